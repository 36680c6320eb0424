// The patch index of a release, "<type>.patches.ini" beside the product ini
// and signed by the same key: for files of the release, the binary patches
// that turn the file an earlier version installed into this version's file.
#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

/// One patch, listed under the installed file it gives. Written
/// "base md5::base size::target md5::patch md5::patch size::patch path".
struct PatchEntry final {
    /// The installed file's path below the client directory (for a packed
    /// file, the unpacked name: patches run between unpacked contents).
    QString target;
    /// The content the patch starts from: what the earlier version installed.
    QString baseMd5;
    quint64 baseSize = 0;
    /// The content it gives: what this version installs.
    QString targetMd5;
    /// The patch as the mirrors serve it, its path below the version's folder.
    QString patchMd5;
    quint64 patchSize = 0;
    QString patchPath;

    /// The entry the value of target's key holds, or nothing when it is not
    /// one: six fields, digests of 32 hexadecimal digits, decimal sizes, a
    /// plain relative patch path without control characters.
    static std::optional<PatchEntry> parse(const QString& target, const QString& value);
    /// The value text, which parse() reads back as this entry as long as
    /// canCarry() holds for the path.
    QString toText() const;
    /// False for a patch path the value cannot carry (one holding the field
    /// separator).
    static bool canCarry(const QString& patchPath);
};

bool operator==(const PatchEntry& a, const PatchEntry& b);

/// The patches of a release, one section per earlier version they start
/// from ("[<version>]"), each listing patches by their target.
class PatchIndex final {
public:
    /// Lists entry as a patch from the earlier version from (1 or more).
    void add(int from, const PatchEntry& entry);
    /// The patches that give target, by ascending earlier version.
    QList<PatchEntry> patchesOf(const QString& target) const;
    /// Earlier version -> its patches, sorted by target.
    const QMap<int, QList<PatchEntry>>& sections() const { return bySection; }
    bool isEmpty() const { return bySection.isEmpty(); }
    /// The number of patches listed.
    int size() const;

    /// The index in the INI file at path, or nothing, with problem saying
    /// why, when the file cannot be read or holds anything that is not an
    /// entry of a section named by a version number. A single bad line
    /// refuses the whole index.
    static std::optional<PatchIndex> read(const QString& path, QString* problem);
    /// Writes the index to path and reads it back; false, with error set,
    /// when it cannot be written or does not read back the same.
    bool write(const QString& path, QString* error) const;

private:
    QMap<int, QList<PatchEntry>> bySection;
    QHash<QString, QList<PatchEntry>> byTarget;
};
