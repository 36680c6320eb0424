// Reads the product ini with the updater's entry format and gzip reader and
// judges its names by the publisher's rules, so that a tree that passes here
// installs cleanly.
#include "treeverifier.h"

#include "base/inivalue.h"
#include "common/keyfile.h"
#include "crypto/tomcryptutil.h"
#include "earlierrelease.h"
#include "filepacker.h"
#include "posixfile.h"
#include "publishexit.h"
#include "release/deltapatch.h"
#include "release/inikeyscan.h"
#include "release/patchindex.h"
#include "release/productentry.h"
#include "release/releasenames.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <utility>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

using ReleaseNames::Rules;

namespace {

constexpr qint64 blockSize = 256 * 1024;

QString digestOf(const QString& path, quint64& size)
{
    PosixFile file = PosixFile::openForReading(path);
    QCryptographicHash md5(QCryptographicHash::Md5);
    const std::unique_ptr<char[]> block(new char[blockSize]);
    size = 0;
    while (const qint64 got = file.read(block.get(), blockSize)) {
        md5.addData(QByteArrayView(block.get(), got));
        size += quint64(got);
    }
    return QString::fromLatin1(md5.result().toHex());
}

// What the updater's gzip reader makes of path: an empty text, or why it
// cannot unpack it.
QString unpackedDigestOf(const QString& path, QString& md5Text, quint64& size)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    gzFile gz = fd < 0 ? nullptr : gzdopen(fd, "rb");
    if (gz == nullptr) {
        if (fd >= 0)
            ::close(fd);
        return systemReason();
    }
    QCryptographicHash md5(QCryptographicHash::Md5);
    const std::unique_ptr<char[]> block(new char[blockSize]);
    size = 0;
    int got = 0;
    while ((got = gzread(gz, block.get(), unsigned(blockSize))) > 0) {
        md5.addData(QByteArrayView(block.get(), got));
        size += quint64(got);
    }
    // A file cut short ends the reading like a complete one; only the
    // error state tells them apart.
    int code = Z_OK;
    const char* error = gzerror(gz, &code);
    const QString reason = got < 0 || code != Z_OK ? QString::fromLatin1(error) : QString();
    gzclose(gz);
    md5Text = QString::fromLatin1(md5.result().toHex());
    return reason;
}

class Verifier final {
public:
    explicit Verifier(const VerifyOptions& options)
        : options(options)
    {
    }

    VerifyReport run();

private:
    void problem(const QString& where, const QString& what)
    {
        report.problems.append(where + QStringLiteral(": ") + what);
    }
    // name: the signed file, below the version folder.
    void checkSignature(const QString& name);
    // Files below the version folder that the product ini does not list.
    void reportUnlisted(const QString& iniName);
    void readFileSection(QSettings& settings, const QString& section);
    void readDeleteSection(QSettings& settings);
    // where: the section and key, also the file's path below the version folder.
    void checkFile(const QString& where, const ProductEntry& entry);
    void checkPatches();
    // The earlier version a section of the patch index starts from, read
    // from the version folder beside this one; null after a problem.
    const EarlierRelease* earlierRelease(int version);
    void checkPatch(const PatchEntry& patch, int from);

    const VerifyOptions& options;
    std::unique_ptr<KeyFile> key;
    VerifyReport report;
    QSet<QString> copies; // keys: the files in the updater's temporary folder
    QSet<QString> installs; // the paths installed in the client folder
    // What each installed path receives, as the product ini lists it.
    QHash<QString, ProductEntry> installed;
    QHash<int, std::optional<EarlierRelease>> earlier;
    QTemporaryDir scratch;
    FilePacker packer;
    QSet<QString> listed; // every key with its section: the files below the version folder
    // The patch files the patch index lists, below the version folder.
    QSet<QString> patchFiles;
};

VerifyReport Verifier::run()
{
    const QFileInfo dir(options.versionDir);
    if (!dir.exists())
        throw ToolError(PublishInput, QStringLiteral("Version folder not found: %1").arg(options.versionDir));
    if (!dir.isDir())
        throw ToolError(PublishInput, QStringLiteral("%1 is not a folder").arg(options.versionDir));
    key = std::make_unique<KeyFile>(options.keyFile.toStdString(), KeyFile::Need::AnyKey);

    const QString iniName = ReleaseNames::productIniName(options.clientType);
    const QString ini = options.versionDir + QLatin1Char('/') + iniName;
    if (!QFileInfo(ini).isFile()) {
        problem(iniName, QStringLiteral("missing (is --type right?)"));
        return report;
    }
    checkSignature(iniName);

    QSettings settings(ini, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        problem(iniName, QStringLiteral("does not parse as an INI file"));
        return report;
    }
    QStringList groups = settings.childGroups();
    // Deleting what this version installs is a fault whatever the order of
    // the sections in the file.
    const QString& deleteSection = ReleaseNames::deleteSection();
    if (groups.removeAll(deleteSection) > 0)
        groups.append(deleteSection);
    for (const QString& group : std::as_const(groups)) {
        settings.beginGroup(group);
        const QString sectionProblem =
            group == deleteSection ? QString() : ReleaseNames::sectionProblem(group, Rules::Publisher);
        if (!sectionProblem.isEmpty())
            problem(group, QStringLiteral("not a usable mirror folder: %1").arg(sectionProblem));
        else if (group == deleteSection)
            readDeleteSection(settings);
        else
            readFileSection(settings, group);
        settings.endGroup();
    }
    // The settings reader keeps one of two equal keys without a word.
    QFile iniFile(ini);
    if (iniFile.open(QIODevice::ReadOnly)) {
        const QStringList repeated = IniKeyScan::repeatedKeys(iniFile.readAll());
        for (const QString& key : repeated)
            problem(key, QStringLiteral("listed more than once; the updater refuses the product ini"));
    }
    if (report.files == 0 && report.deletions == 0)
        problem(iniName, QStringLiteral("lists no files; the updater refuses it"));
    checkPatches();
    reportUnlisted(iniName);
    return report;
}

void Verifier::reportUnlisted(const QString& iniName)
{
    // What the mirror serves beside the listed files: the product ini, its
    // signatures and the change log, the patch index, its signatures and the
    // patches it lists.
    const QString indexName = ReleaseNames::patchIndexName(options.clientType);
    const auto servedBeside = [this, &iniName, &indexName](const QString& path) {
        return path == iniName || path.startsWith(iniName + QStringLiteral(".sig"))
            || path == ReleaseNames::changeLogName() || path == indexName
            || path.startsWith(indexName + QStringLiteral(".sig")) || patchFiles.contains(path);
    };
    // Absolute, so that the names come out relative to the version folder
    // however the folder was given on the command line.
    const QDir dir(QFileInfo(options.versionDir).absoluteFilePath());
    QStringList unlisted;
    QDirIterator it(dir.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = dir.relativeFilePath(it.next());
        if (!listed.contains(path) && !servedBeside(path))
            unlisted.append(path);
    }
    // A file the product ini does not name is never installed: a release
    // that was meant to carry it does not.
    unlisted.sort();
    for (const QString& path : std::as_const(unlisted))
        problem(path, QStringLiteral("not listed in the product ini"));
}

void Verifier::checkSignature(const QString& name)
{
    QFile ini(options.versionDir + QLatin1Char('/') + name);
    const bool readable = ini.open(QIODevice::ReadOnly);
    const QByteArray data = ini.readAll();
    // Updaters of before ".sig256" need the ".sig"; newer ones use the
    // ".sig256" alone where there is one, so it must be as good.
    for (const auto& [suffix, hash] :
        {std::pair {".sig", SignatureHash::Sha1}, std::pair {".sig256", SignatureHash::Sha256}}) {
        const QString sigName = name + QLatin1String(suffix);
        QFile sig(options.versionDir + QLatin1Char('/') + sigName);
        if (!sig.exists()) {
            if (hash == SignatureHash::Sha1)
                problem(sigName, QStringLiteral("missing"));
            continue;
        }
        if (!readable || !sig.open(QIODevice::ReadOnly)) {
            problem(sigName, QStringLiteral("cannot be read"));
            continue;
        }
        const QByteArray signature = sig.readAll();
        const std::string why = key->signatureProblem(
            reinterpret_cast<const unsigned char*>(data.constData()), size_t(data.size()),
            reinterpret_cast<const unsigned char*>(signature.constData()), size_t(signature.size()), hash);
        if (!why.empty())
            problem(sigName, QString::fromStdString(why));
    }
}

void Verifier::readFileSection(QSettings& settings, const QString& section)
{
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys) {
        const QString where = section + QLatin1Char('/') + key;
        listed.insert(where);
        const QString value = IniValue::text(settings, key);
        const std::optional<ProductEntry> entry = ProductEntry::parse(value);
        if (!entry) {
            problem(where, QStringLiteral("not a valid entry: \"%1\"").arg(value));
            continue;
        }
        QString pathProblem = ReleaseNames::fileNameProblem(key, Rules::Publisher);
        if (pathProblem.isEmpty() && entry->isPacked())
            pathProblem = ReleaseNames::fileNameProblem(entry->unpackedName, Rules::Publisher);
        if (!pathProblem.isEmpty()) {
            problem(where, QStringLiteral("unsafe path: %1").arg(pathProblem));
            continue;
        }
        const QString target = entry->isPacked() ? entry->unpackedName : key;
        if (copies.contains(key) || installs.contains(target))
            problem(where, QStringLiteral("listed more than once; the updater refuses the product ini"));
        copies.insert(key);
        installs.insert(target);
        installed.insert(target, *entry);
        checkFile(where, *entry);
    }
}

void Verifier::readDeleteSection(QSettings& settings)
{
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys) {
        const QString where = ReleaseNames::deleteSection() + QLatin1Char('/') + key;
        ++report.deletions;
        const QString pathProblem = ReleaseNames::deletionProblem(key, Rules::Publisher);
        if (!pathProblem.isEmpty())
            problem(where, QStringLiteral("unsafe path: %1").arg(pathProblem));
        else if (installs.contains(key))
            problem(where, QStringLiteral("deletes a file this version installs"));
    }
}

void Verifier::checkFile(const QString& where, const ProductEntry& entry)
{
    ++report.files;
    if (entry.isPacked())
        ++report.packed;
    const QString path = options.versionDir + QLatin1Char('/') + where;
    if (!QFileInfo(path).isFile()) {
        problem(where, QStringLiteral("missing"));
        return;
    }
    quint64 size = 0;
    QString md5;
    try {
        md5 = digestOf(path, size);
    } catch (const ToolError& error) {
        problem(where, QString::fromStdString(error.what()));
        return;
    }
    // The updater compares digests ignoring case.
    const QString listedMd5 = entry.md5.toLower();
    if (size != entry.size)
        problem(where, QStringLiteral("%1 bytes, the product ini lists %2").arg(size).arg(entry.size));
    else if (md5 != listedMd5)
        problem(where, QStringLiteral("MD5 %1, the product ini lists %2").arg(md5, listedMd5));
    if (!entry.isPacked())
        return;
    quint64 unpackedSize = 0;
    QString unpackedMd5;
    const QString reason = unpackedDigestOf(path, unpackedMd5, unpackedSize);
    if (!reason.isEmpty())
        problem(where, QStringLiteral("does not unpack: %1").arg(reason));
    else if (unpackedSize != entry.unpackedSize)
        problem(where,
            QStringLiteral("unpacks to %1 bytes, the product ini lists %2")
                .arg(unpackedSize)
                .arg(entry.unpackedSize));
    else if (unpackedMd5 != entry.unpackedMd5.toLower())
        problem(where,
            QStringLiteral("unpacks to MD5 %1, the product ini lists %2")
                .arg(unpackedMd5, entry.unpackedMd5.toLower()));
}

void Verifier::checkPatches()
{
    const QString indexName = ReleaseNames::patchIndexName(options.clientType);
    const QString path = options.versionDir + QLatin1Char('/') + indexName;
    if (!QFileInfo::exists(path))
        return;
    checkSignature(indexName);
    QString why;
    const std::optional<PatchIndex> index = PatchIndex::read(path, &why);
    if (!index) {
        problem(indexName, QStringLiteral("not a patch index: %1; updaters ignore it").arg(why));
        return;
    }
    for (auto section = index->sections().cbegin(); section != index->sections().cend(); ++section) {
        for (const PatchEntry& patch : section.value())
            checkPatch(patch, section.key());
    }
}

const EarlierRelease* Verifier::earlierRelease(int version)
{
    auto found = earlier.find(version);
    if (found == earlier.end()) {
        const QString dir = QFileInfo(options.versionDir).absoluteDir().filePath(QString::number(version));
        std::optional<EarlierRelease> release;
        try {
            release = readEarlierRelease(dir, options.clientType);
        } catch (const ToolError& error) {
            problem(ReleaseNames::patchIndexName(options.clientType),
                QStringLiteral("the patches from version %1 cannot be checked: %2")
                    .arg(version)
                    .arg(QString::fromStdString(error.what())));
        }
        found = earlier.insert(version, release);
    }
    return found->has_value() ? &found->value() : nullptr;
}

void Verifier::checkPatch(const PatchEntry& patch, int from)
{
    ++report.patches;
    const QString& where = patch.patchPath;
    patchFiles.insert(where);
    const auto target = installed.constFind(patch.target);
    if (target == installed.cend()) {
        problem(where, QStringLiteral("patches %1, which the product ini does not list").arg(patch.target));
        return;
    }
    const QString targetMd5 = (target->isPacked() ? target->unpackedMd5 : target->md5).toLower();
    const quint64 targetSize = target->isPacked() ? target->unpackedSize : target->size;
    if (patch.targetMd5.toLower() != targetMd5) {
        problem(where,
            QStringLiteral("gives MD5 %1, the product ini lists %2 for %3")
                .arg(patch.targetMd5.toLower(), targetMd5, patch.target));
        return;
    }
    quint64 size = 0;
    QString md5;
    const QString patchFile = options.versionDir + QLatin1Char('/') + where;
    if (!QFileInfo(patchFile).isFile()) {
        problem(where, QStringLiteral("missing"));
        return;
    }
    try {
        md5 = digestOf(patchFile, size);
    } catch (const ToolError& error) {
        problem(where, QString::fromStdString(error.what()));
        return;
    }
    if (size != patch.patchSize || md5 != patch.patchMd5.toLower()) {
        problem(where,
            QStringLiteral("%1 bytes with MD5 %2, the patch index lists %3 bytes with MD5 %4")
                .arg(size)
                .arg(md5)
                .arg(patch.patchSize)
                .arg(patch.patchMd5.toLower()));
        return;
    }
    const EarlierRelease* release = earlierRelease(from);
    if (!release)
        return;
    const auto base = release->files.constFind(patch.target);
    if (base == release->files.cend() || base->installedMd5() != patch.baseMd5.toLower()
        || base->installedSize() != patch.baseSize) {
        problem(where,
            QStringLiteral("starts from content of %1 that version %2 does not install")
                .arg(patch.target)
                .arg(from));
        return;
    }
    const QString unpacked = scratch.filePath(QStringLiteral("base"));
    const QString output = scratch.filePath(QStringLiteral("output"));
    QByteArray outputMd5;
    QString error;
    try {
        // What the earlier tree holds must be what its product ini lists.
        const FileDigest found = base->entry.isPacked() ? packer.gunzip(base->mirrorPath, unpacked)
                                                        : packer.digest(base->mirrorPath);
        if (found.md5 != base->installedMd5().toLatin1() || found.size != base->installedSize()) {
            problem(where,
                QStringLiteral("version %1's %2 is not what its product ini lists")
                    .arg(from)
                    .arg(patch.target));
            return;
        }
    } catch (const ToolError& failure) {
        problem(where, QString::fromStdString(failure.what()));
        return;
    }
    const bool applied = DeltaPatch::apply(base->entry.isPacked() ? unpacked : base->mirrorPath, patchFile,
        output, targetSize, &outputMd5, &error);
    QFile::remove(unpacked);
    QFile::remove(output);
    if (!applied)
        problem(where,
            QStringLiteral("does not apply to version %1's %2: %3").arg(from).arg(patch.target, error));
    else if (QString::fromLatin1(outputMd5) != targetMd5)
        problem(where,
            QStringLiteral("applied to version %1's %2 gives MD5 %3, the product ini lists %4")
                .arg(from)
                .arg(patch.target, QString::fromLatin1(outputMd5), targetMd5));
}

} // namespace

VerifyReport verifyTree(const VerifyOptions& options)
{
    try {
        crypt_init();
    } catch (const crypt_exception& e) {
        throw ToolError(PublishCrypto, QString::fromLocal8Bit(e.what()));
    }
    return Verifier(options).run();
}
