// Turns the verified product ini into the download, replace and delete lists,
// comparing every file of the release with what is installed and with what
// an earlier attempt already downloaded.
#pragma once

#include <array>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include <QSet>

#include "release/inikeyscan.h"
#include "release/patchindex.h"

#include "tasks/asynctaskspecification.h"
#include "update/filespecifications.h"
#include "update/updateparameters.h"

class QSettings;

/// Compiles the work lists on the thread pool and publishes them into
/// outputLists, on the GUI thread, only when the whole product ini was read
/// and found sound; on failure outputLists keeps what it held.
class MakeDownloadReplaceListTaskSpecification final : public ASyncTaskSpecification {
    Q_OBJECT
    Q_DISABLE_COPY(MakeDownloadReplaceListTaskSpecification)

public:
    /// outputLists is not owned and must outlive the task.
    MakeDownloadReplaceListTaskSpecification(const UpdateParameters& parameters,
        FileSpecifications& outputLists, QObject* parent, double parentProgressRange);

protected:
    ASyncFunc* createFunction() override;
    void runDone(bool res) override;

private:
    UpdateParameters parameters;
    FileSpecifications& outputLists;
    // Shared with the running function, so a task deleted mid-compilation
    // never leaves the worker writing into freed memory. Each run gets fresh
    // lists.
    std::shared_ptr<FileSpecifications> workLists;
};

class MakeDownloadReplaceListFunc final : public ASyncFunc {
    Q_OBJECT

public:
    /// Copies what it needs from parameters; runs on a worker thread.
    MakeDownloadReplaceListFunc(
        const UpdateParameters& parameters, std::shared_ptr<FileSpecifications> lists);

    /// Fills lists; false, after a log line, when the product ini is empty,
    /// unreadable or holds an invalid or unsafe entry. A file to download
    /// whose installed copy is the start of a patch in the patch index is
    /// fetched as that patch; an index that cannot be read is ignored with a
    /// log line.
    bool run() override;
    /// Number of keys over all sections.
    int getFileCount(QSettings& settings);

private:
    // Checks a section's name as it is entered; the delete section also
    // marks where the leftovers of the files before it go.
    bool enterSection(const QString& section);
    // One key of the delete section; deleteKeys counts them.
    bool readDeletion(const QString& key, int& deleteKeys);
    bool readFileEntry(const QString& section, const QString& key, const QString& value);
    // Reads every section into candidates and the delete list; count: the
    // keys of all sections, deleteKeys: those of the delete section.
    bool readProductIni(int& count, int& deleteKeys);
    // The sections of a product ini that the raw scan read, in its order.
    bool readPlainSections(const std::vector<IniKeyScan::SectionEntry>& entries, int& count, int& deleteKeys);
    // The sections as the settings reader reads them, for a product ini
    // whose spelling the scan leaves to it; the parsed file is gone on return.
    bool readSettingsSections(int& count, int& deleteKeys);
    // False, after a log line, when repeated (keys the product ini lists
    // twice) is not empty.
    bool refuseRepeatedKeys(const QStringList& repeated);
    // Sorts the files read into the lists: installed and current (none),
    // verified copy waiting (replace only), or both lists. keysDone keys of
    // count were handled before.
    void judgeCandidates(int keysDone, int count);
    void reportInvalidLine(const QString& section);
    // A path leading out of the client directory is unsafe; any other
    // problem makes the name invalid.
    void reportNameProblem(const QString& path, const QString& section, const QString& problem);
    void reportDuplicate(const QString& path, const QString& section);
    void readPatchIndex();

    QString productIni;
    QString tempDir;
    QString clientDir;
    std::shared_ptr<FileSpecifications> lists;
    // Paths seen so far: keys (copies in the temporary directory), installed
    // paths and delete keys (both relative to the client directory).
    QSet<QString> copies;
    QSet<QString> installs;
    QSet<QString> deletions;
    // Every file entry read, in reading order, until it is judged. It lives
    // beside the parsed ini, so it is kept small: the digests as the ini
    // spells them, in place rather than as strings of their own. The records
    // of the lists are made from it when needed.
    struct Candidate {
        QString section;
        QString key;
        QString unzipName;
        quint64 size = 0;
        quint64 unpackedSize = 0;
        std::array<char, 32> md5 {};
        std::array<char, 32> unpackedMd5 {};

        FileReplaceSpecification replace() const;
        // The download of the file: its digest is the one replace shares
        // when the file is installed as it is downloaded.
        FileDownloadSpecification download(const FileReplaceSpecification& replace) const;
    };
    // What a cut-off run left beside an installed file.
    enum Leftover : quint8 { OldCopyLeft = 1, StagedCopyLeft = 2 };
    quint8 findLeftovers(const FileReplaceSpecification& replace) const;
    // Puts the leftovers found (one entry per candidate) into the delete list.
    void mergeLeftovers(const std::vector<quint8>& leftovers);
    // Taken from the front while the lists are filled: each block goes as
    // soon as its entries are in the lists.
    std::deque<Candidate> candidates;
    // How many candidates were read before the delete section; -1: none yet.
    qsizetype candidatesBeforeDeletes = -1;

    QString patchIndexPath;
    std::optional<PatchIndex> patchIndex;
    // Keys that name a patch's working files: those files cannot be patched.
    QSet<QString> patchWorkNames;
    // The patch that gives the candidate's content from what is installed,
    // if the index has one; installedHex: the installed file's digest, empty
    // when it could not be read.
    std::optional<FilePatchSpecification> choosePatch(const FileDownloadSpecification& download,
        const FileReplaceSpecification& replace, const QByteArray& installedHex) const;
};
