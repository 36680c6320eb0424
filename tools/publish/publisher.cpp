// Plans the product ini from the release folder, checks that the updater can
// carry it out (no two files on one path, nothing deleted that is installed),
// then writes, packs and signs the tree.
#include "publisher.h"

#include "earlierrelease.h"
#include "filepacker.h"
#include "outputfolder.h"
#include "parallelpacker.h"
#include "patchmaker.h"
#include "posixfile.h"
#include "productini.h"
#include "publishexit.h"
#include "release/productentry.h"
#include "release/releasenames.h"
#include "releasescan.h"
#include "releasesigner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>

namespace {

// Every folder that some path lies in, so that a file and a folder of the same
// name can be told apart from the list of files alone.
QSet<QString> parentFolders(const QSet<QString>& paths)
{
    QSet<QString> folders;
    for (const QString& path : paths) {
        for (int slash = path.indexOf(QLatin1Char('/')); slash > 0;
             slash = path.indexOf(QLatin1Char('/'), slash + 1))
            folders.insert(path.left(slash));
    }
    return folders;
}

// The downloaded copies of every section share the update's temporary
// directory, and the installed files share the client directory: a path may
// be taken once in each, and never as a file and a folder at once.
void checkOnePathEach(const QList<ReleaseFile>& files, const QString& clientType)
{
    QSet<QString> taken;
    for (const ReleaseFile& file : files) {
        if (taken.contains(file.path))
            throw ToolError(PublishContent,
                QStringLiteral("%1 is in more than one mirror folder; the updater keeps one file per path")
                    .arg(file.path));
        taken.insert(file.path);
    }
    const QSet<QString> folders = parentFolders(taken);
    for (const QString& path : taken) {
        if (folders.contains(path))
            throw ToolError(PublishContent,
                QStringLiteral("%1 is a file in one mirror folder and a folder in another").arg(path));
    }
    // The product ini, the patch index and their signatures lie in the same
    // temporary directory.
    const QString ini = ReleaseNames::productIniName(clientType);
    const QString index = ReleaseNames::patchIndexName(clientType);
    const auto refuseShadow = [&taken](const QString& name, const QString& what) {
        for (const QString& reserved :
            {name, name + QStringLiteral(".sig"), name + QStringLiteral(".sig256")}) {
            if (taken.contains(reserved))
                throw ToolError(PublishContent,
                    QStringLiteral("%1 would overwrite %2 in the updater's temporary directory")
                        .arg(reserved, what));
        }
    };
    refuseShadow(ini, QStringLiteral("the product ini"));
    refuseShadow(index, QStringLiteral("the patch index"));
}

QStringList readDeleteList(const QString& listFile)
{
    QFile file(listFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw ToolError(PublishInput,
            QStringLiteral("Cannot read the deletion list %1: %2").arg(listFile, file.errorString()));
    QStringList paths;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        paths.append(line);
    }
    return paths;
}

QStringList computeDeletions(const PublishOptions& options, const QSet<QString>& installed)
{
    QStringList candidates;
    if (!options.deleteListFile.isEmpty())
        candidates = readDeleteList(options.deleteListFile);
    if (!options.previousDir.isEmpty()) {
        const QList<ReleaseFile> previous =
            scanRelease(options.previousDir, options.section, options.folderSections);
        for (const ReleaseFile& file : previous) {
            if (!installed.contains(file.path))
                candidates.append(file.path);
        }
    }
    const QSet<QString> folders = parentFolders(installed);
    for (const QString& path : std::as_const(candidates)) {
        const QString problem = ReleaseNames::deletionProblem(path, ReleaseNames::Rules::Publisher);
        if (!problem.isEmpty())
            throw ToolError(PublishContent, QStringLiteral("Cannot delete %1: %2").arg(path, problem));
        // The delete stage runs after the new files are installed.
        if (installed.contains(path))
            throw ToolError(
                PublishContent, QStringLiteral("%1 is both published and listed for deletion").arg(path));
        if (folders.contains(path))
            throw ToolError(
                PublishContent, QStringLiteral("%1 is deleted but is a folder of the new release").arg(path));
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    return candidates;
}

// Copies or packs every file into staging and returns its product ini entries.
QList<ListedFile> writeFiles(
    const QList<ReleaseFile>& files, const QString& staging, const PublishOptions& options, int& packed)
{
    QSet<QString> taken;
    for (const ReleaseFile& file : files)
        taken.insert(file.path);
    QList<PackJob> jobs;
    QSet<QString> folders;
    for (const ReleaseFile& file : files) {
        const QString target = staging + QLatin1Char('/') + file.section + QLatin1Char('/') + file.path;
        // A release that holds both "x" and "x.gz" cannot publish "x" packed,
        // nor can a packed entry name a file whose name holds the separator of
        // its fields, nor list it under a name too long for the updater; such
        // a file goes as it is.
        const QString packedName = file.path + QStringLiteral(".gz");
        const bool tryGzip = options.gzip && !taken.contains(packedName)
            && ProductEntry::canCarryUnpackedName(file.path)
            && ReleaseNames::fileNameProblem(packedName, ReleaseNames::Rules::Publisher).isEmpty();
        jobs.append({file.source, target, tryGzip, file.size});
        folders.insert(QFileInfo(target).path());
    }
    // Made here, once each, so that the packing threads only write files.
    for (const QString& folder : std::as_const(folders))
        makeFolders(folder);
    const QList<PackOutcome> outcomes = packAll(jobs, options.level, options.threads);

    QList<ListedFile> listed;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const ReleaseFile& file = files.at(i);
        const PackOutcome& outcome = outcomes.at(i);
        ProductEntry entry;
        entry.md5 = QString::fromLatin1(outcome.onMirror.md5);
        entry.size = outcome.onMirror.size;
        if (outcome.packed) {
            entry.unpackedMd5 = QString::fromLatin1(outcome.unpacked.md5);
            entry.unpackedSize = outcome.unpacked.size;
            entry.unpackedName = file.path;
            listed.append({file.section, file.path + QStringLiteral(".gz"), entry});
            ++packed;
        } else {
            listed.append({file.section, file.path, entry});
        }
    }
    return listed;
}

QList<EarlierRelease> readEarlierReleases(const PublishOptions& options, const QList<ReleaseFile>& files)
{
    QList<EarlierRelease> earlier;
    for (const QString& dir : options.deltaFrom) {
        EarlierRelease release = readEarlierRelease(dir, options.clientType);
        if (release.version == options.version)
            throw ToolError(
                PublishUsage, QStringLiteral("--delta-from %1 names the version being published").arg(dir));
        // The same version twice adds nothing.
        if (std::none_of(earlier.cbegin(), earlier.cend(),
                [&release](const EarlierRelease& e) { return e.version == release.version; }))
            earlier.append(std::move(release));
    }
    for (const ReleaseFile& file : files) {
        if (!earlier.isEmpty() && file.section == ReleaseNames::patchFolder())
            throw ToolError(PublishContent,
                QStringLiteral(
                    "The mirror folder %1 holds the patches of --delta-from; name the section otherwise")
                    .arg(file.section));
    }
    return earlier;
}

// Makes the patches, writes and signs their index beside the product ini.
void publishPatches(const QList<ReleaseFile>& files, const QList<ListedFile>& listed,
    const QList<EarlierRelease>& earlier, const QString& staging, const PublishOptions& options,
    const ReleaseSigner& signer, PublishSummary& summary)
{
    QList<PatchTarget> targets;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const ProductEntry& entry = listed.at(i).entry;
        targets.append(
            {files.at(i).path, files.at(i).source, entry.isPacked() ? entry.unpackedMd5 : entry.md5,
                entry.isPacked() ? entry.unpackedSize : entry.size, entry.size});
    }
    const QTemporaryDir scratch(
        QDir(options.outDir).absoluteFilePath(QStringLiteral(".corvane-patch-XXXXXX")));
    if (!scratch.isValid())
        throw ToolError(PublishOutput,
            QStringLiteral("Cannot create a folder in %1: %2").arg(options.outDir, scratch.errorString()));
    PatchSummary patches;
    const PatchIndex index = makePatches(targets, earlier, staging, scratch.path(), options.threads, patches);
    summary.patches = patches.patches;
    summary.patchBytes = patches.patchBytes;
    summary.replacedBytes = patches.replacedBytes;
    // No index is what an updater meets for a release without patches.
    if (index.isEmpty())
        return;
    const QString path = staging + QLatin1Char('/') + ReleaseNames::patchIndexName(options.clientType);
    QString error;
    if (!index.write(path, &error))
        throw ToolError(PublishOutput, error);
    signer.signFile(path);
}

void copyChangeLog(const QString& source, const QString& target)
{
    if (!QFileInfo(source).isFile())
        throw ToolError(PublishInput, QStringLiteral("Change log not found: %1").arg(source));
    copyFile(source, target);
}

} // namespace

PublishSummary publish(const PublishOptions& options)
{
    refuseOutputInsideRelease(options.outDir, options.releaseDir);
    // Read every input before the first byte is written.
    const ReleaseSigner signer(options.keyFile);
    const QList<ReleaseFile> files = scanRelease(options.releaseDir, options.section, options.folderSections);
    checkOnePathEach(files, options.clientType);
    QSet<QString> installed;
    for (const ReleaseFile& file : files)
        installed.insert(file.path);
    const QStringList deletions = computeDeletions(options, installed);
    const QList<EarlierRelease> earlier = readEarlierReleases(options, files);
    if (files.isEmpty() && deletions.isEmpty())
        throw ToolError(PublishContent,
            QStringLiteral("Nothing to publish: %1 holds no files and nothing is deleted")
                .arg(options.releaseDir));
    if (!options.changelogFile.isEmpty() && !QFileInfo(options.changelogFile).isFile())
        throw ToolError(PublishInput, QStringLiteral("Change log not found: %1").arg(options.changelogFile));

    const QString versionDir = QDir(options.outDir).absoluteFilePath(QString::number(options.version));
    // Saves a long run that could only fail at its end.
    if (QFileInfo::exists(versionDir) && !options.force)
        throw ToolError(PublishOutput, versionExistsText(versionDir));
    makeFolders(options.outDir);

    // Mirrors that sync the output folder never see a half-written version.
    QTemporaryDir staging(QDir(options.outDir).absoluteFilePath(QStringLiteral(".corvane-publish-XXXXXX")));
    if (!staging.isValid())
        throw ToolError(PublishOutput,
            QStringLiteral("Cannot create a folder in %1: %2").arg(options.outDir, staging.errorString()));
    QFile::setPermissions(staging.path(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
            | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);

    PublishSummary summary;
    const QList<ListedFile> listed = writeFiles(files, staging.path(), options, summary.packed);
    const QString ini = staging.path() + QLatin1Char('/') + ReleaseNames::productIniName(options.clientType);
    writeProductIni(ini, listed, deletions);
    signer.signFile(ini);
    if (!earlier.isEmpty())
        publishPatches(files, listed, earlier, staging.path(), options, signer, summary);
    if (!options.changelogFile.isEmpty())
        copyChangeLog(
            options.changelogFile, staging.path() + QLatin1Char('/') + ReleaseNames::changeLogName());

    moveIntoPlace(staging.path(), versionDir, options.force);
    staging.setAutoRemove(false);

    summary.versionDir = versionDir;
    summary.files = int(files.size());
    summary.deletions = int(deletions.size());
    return summary;
}
