// Compiles the three work lists from the product ini.
#include "makedownloadreplacelisttaskspecification.h"

#include <algorithm>
#include <utility>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include "base/inivalue.h"
#include "base/mappedfile.h"
#include "base/parallelfor.h"
#include "crypto/filemd5.h"
#include "release/productentry.h"
#include "release/releasenames.h"
#include "release/specialfiles.h"

using ReleaseNames::Rules;

namespace {

using Digits = std::array<char, 32>;

// The digits of a digest that ProductEntry::parse() accepted: 32 of them,
// all hexadecimal.
Digits digestDigits(const QString& hex)
{
    Digits digits {};
    const QByteArray latin1 = hex.toLatin1();
    std::copy_n(latin1.constData(), digits.size(), digits.begin());
    return digits;
}

} // namespace

MakeDownloadReplaceListTaskSpecification::MakeDownloadReplaceListTaskSpecification(
    const UpdateParameters& parameters, FileSpecifications& outputLists, QObject* parent,
    double parentProgressRange)
    : ASyncTaskSpecification(parent, parentProgressRange)
    , parameters(parameters)
    , outputLists(outputLists)
{
}

ASyncFunc* MakeDownloadReplaceListTaskSpecification::createFunction()
{
    workLists = std::make_shared<FileSpecifications>();
    return new MakeDownloadReplaceListFunc(parameters, workLists);
}

void MakeDownloadReplaceListTaskSpecification::runDone(bool res)
{
    // A result after reset() belongs to an abandoned run; the base drops it,
    // and its lists must not be published either.
    if (res && state() == Running && workLists) {
        // Moved, not shared: the later stages let go of each list once done
        // with it, and a copy kept here would hold every record to the end.
        outputLists.downloadList = std::move(workLists->downloadList);
        outputLists.replaceList = std::move(workLists->replaceList);
        outputLists.deleteList = std::move(workLists->deleteList);
    }
    workLists.reset();
    ASyncTaskSpecification::runDone(res);
}

MakeDownloadReplaceListFunc::MakeDownloadReplaceListFunc(
    const UpdateParameters& parameters, std::shared_ptr<FileSpecifications> lists)
    : productIni(parameters.productIniPath())
    , tempDir(parameters.tempDir)
    , clientDir(parameters.clientDir)
    , lists(std::move(lists))
    , patchIndexPath(parameters.patchIndexPath())
{
}

int MakeDownloadReplaceListFunc::getFileCount(QSettings& settings)
{
    int count = 0;
    const QStringList groups = settings.childGroups();
    for (const QString& group : groups) {
        settings.beginGroup(group);
        count += settings.allKeys().size();
        settings.endGroup();
    }
    return count;
}

bool MakeDownloadReplaceListFunc::run()
{
    lists->clear();
    emit message(QStringLiteral("Compiling download and replace list"));
    int count = 0;
    int deleteKeys = 0;
    if (!readProductIni(count, deleteKeys)) {
        // Nothing of a refused product ini may be acted on.
        lists->clear();
        candidates = {};
        return false;
    }
    readPatchIndex();
    judgeCandidates(deleteKeys, count);
    return true;
}

void MakeDownloadReplaceListFunc::readPatchIndex()
{
    // Only an index whose signature held is there at all.
    if (!QFileInfo::exists(patchIndexPath))
        return;
    QString problem;
    patchIndex = PatchIndex::read(patchIndexPath, &problem);
    if (!patchIndex) {
        emit message(
            QStringLiteral("Ignoring the patch index: %1; changed files are downloaded whole").arg(problem));
    }
}

std::optional<FilePatchSpecification> MakeDownloadReplaceListFunc::choosePatch(
    const FileDownloadSpecification& download, const FileReplaceSpecification& replace,
    const QByteArray& installedHex) const
{
    if (patchWorkNames.contains(FilePatchSpecification::patchFileOf(download.fileName))
        || patchWorkNames.contains(FilePatchSpecification::resultFileOf(download.fileName)))
        return std::nullopt;
    const QString& result = replace.hasUnzip() ? replace.md5 : download.md5;
    for (const PatchEntry& patch : patchIndex->patchesOf(replace.pureDestFilePath())) {
        // A patch to other content belongs to another release, and one as
        // large as the file saves nothing.
        if (patch.targetMd5.compare(result, Qt::CaseInsensitive) != 0 || patch.patchSize >= download.size)
            continue;
        if (installedHex.isEmpty()
            || QString::fromLatin1(installedHex).compare(patch.baseMd5, Qt::CaseInsensitive) != 0)
            continue;
        FilePatchSpecification chosen;
        chosen.remotePath = patch.patchPath;
        chosen.md5 = patch.patchMd5;
        chosen.size = patch.patchSize;
        chosen.basePath = replace.pureDestFilePath();
        chosen.resultMd5 = result;
        chosen.resultSize = replace.hasUnzip() ? replace.size : download.size;
        chosen.packed = replace.hasUnzip();
        return chosen;
    }
    return std::nullopt;
}

bool MakeDownloadReplaceListFunc::readProductIni(int& count, int& deleteKeys)
{
    // A release of 100,000 files: the settings reader's parsed copy of the
    // file takes more memory than the lists made from it. The raw scan reads
    // the sections from the file as it stands, with a view of each value,
    // wherever it reads them as the reader would; a file spelt otherwise
    // (quotes, escapes, commas) goes through the reader after all.
    MappedFile file;
    const QByteArrayView data = file.openForReading(productIni)
        ? QByteArrayView(file.data(), qsizetype(file.size()))
        : QByteArrayView();
    QStringList repeated;
    std::optional<std::vector<IniKeyScan::SectionEntry>> plain =
        IniKeyScan::plainSectionEntries(data, &repeated);
    const bool scanned = plain.has_value();
    const bool ok =
        scanned ? readPlainSections(*plain, count, deleteKeys) : readSettingsSections(count, deleteKeys);
    plain.reset();
    // The sets against duplicates are done with once the sections are read;
    // they are gone before the raw text is scanned for repeated keys, which
    // takes as much again, and before the files are judged and the lists
    // filled.
    copies = {};
    installs = {};
    deletions = {};
    if (ok && !scanned)
        repeated = IniKeyScan::repeatedKeys(data);
    const bool sound = ok && refuseRepeatedKeys(repeated);
    // Freed, they still count to the process: holes between the candidates,
    // kept by the allocator for reuse. The lists made next would come on top
    // of them, so they go back to the system now.
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    return sound;
}

bool MakeDownloadReplaceListFunc::readPlainSections(
    const std::vector<IniKeyScan::SectionEntry>& entries, int& count, int& deleteKeys)
{
    count = int(entries.size());
    if (count == 0) {
        emit message(QStringLiteral("No files in product ini"));
        return false;
    }
    const QString* section = nullptr;
    for (const IniKeyScan::SectionEntry& entry : entries) {
        if (!section || entry.section != *section) {
            if (!enterSection(entry.section))
                return false;
            section = &entry.section;
        }
        const bool ok = *section == ReleaseNames::deleteSection()
            ? readDeletion(entry.key, deleteKeys)
            : readFileEntry(*section, entry.key, IniKeyScan::plainValue(entry.rawValue));
        if (!ok)
            return false;
    }
    return true;
}

bool MakeDownloadReplaceListFunc::readSettingsSections(int& count, int& deleteKeys)
{
    QSettings settings(productIni, QSettings::IniFormat);
    count = getFileCount(settings);
    if (count == 0) {
        emit message(QStringLiteral("No files in product ini"));
        return false;
    }
    const QStringList groups = settings.childGroups();
    for (const QString& group : groups) {
        if (!enterSection(group))
            return false;
        settings.beginGroup(group);
        const QStringList keys = settings.allKeys();
        bool ok = true;
        for (const QString& key : keys) {
            ok = group == ReleaseNames::deleteSection()
                ? readDeletion(key, deleteKeys)
                : readFileEntry(group, key, IniValue::text(settings, key));
            if (!ok)
                break;
        }
        settings.endGroup();
        if (!ok)
            return false;
    }
    return true;
}

bool MakeDownloadReplaceListFunc::refuseRepeatedKeys(const QStringList& repeated)
{
    // The settings reader keeps the last of two equal keys and says nothing:
    // which of two entries for one file the publisher meant is not known.
    if (repeated.isEmpty())
        return true;
    const QString& key = repeated.first();
    const qsizetype slash = key.indexOf(QLatin1Char('/'));
    reportDuplicate(ReleaseNames::printable(key.mid(slash + 1)), ReleaseNames::printable(key.left(slash)));
    return false;
}

bool MakeDownloadReplaceListFunc::enterSection(const QString& section)
{
    if (!ReleaseNames::sectionProblem(section, Rules::Updater).isEmpty()) {
        reportInvalidLine(ReleaseNames::printable(section));
        return false;
    }
    if (section == ReleaseNames::deleteSection())
        candidatesBeforeDeletes = qsizetype(candidates.size());
    return true;
}

bool MakeDownloadReplaceListFunc::readDeletion(const QString& key, int& deleteKeys)
{
    ++deleteKeys;
    if (ReleaseNames::hasControlCharacter(key)) {
        reportInvalidLine(ReleaseNames::deleteSection());
        return false;
    }
    const QString problem = ReleaseNames::deletionProblem(key, Rules::Updater);
    if (!problem.isEmpty()) {
        reportNameProblem(key, ReleaseNames::deleteSection(), problem);
        return false;
    }
    // Deleting what the same release installs would leave it incomplete.
    if (installs.contains(key)) {
        reportDuplicate(key, ReleaseNames::deleteSection());
        return false;
    }
    deletions.insert(key);
    // The rest of the release is sound; only the updater must survive it.
    const QString ownFile = ReleaseNames::ownFileProblem(key);
    if (!ownFile.isEmpty()) {
        emit message(QStringLiteral("Refusing to delete %1: %2").arg(key, ownFile));
        return true;
    }
    if (QFileInfo::exists(clientDir + QLatin1Char('/') + key))
        lists->deleteList.append(key);
    return true;
}

bool MakeDownloadReplaceListFunc::readFileEntry(
    const QString& section, const QString& key, const QString& value)
{
    const std::optional<ProductEntry> entry = ProductEntry::parse(value);
    if (!entry || ReleaseNames::hasControlCharacter(key)
        || ReleaseNames::hasControlCharacter(entry->unpackedName)) {
        reportInvalidLine(section);
        return false;
    }
    const QStringList names = entry->isPacked() ? QStringList {key, entry->unpackedName} : QStringList {key};
    for (const QString& name : names) {
        const QString problem = ReleaseNames::fileNameProblem(name, Rules::Updater);
        if (!problem.isEmpty()) {
            reportNameProblem(name, section, problem);
            return false;
        }
    }

    Candidate candidate {section, key, entry->unpackedName, entry->size, entry->unpackedSize,
        digestDigits(entry->md5), entry->isPacked() ? digestDigits(entry->unpackedMd5) : Digits {}};

    // Two entries for one file would race each other: two downloads into
    // one copy (blaming the mirrors for the mix) or two installations of
    // one target.
    const QString target = ReleaseNames::withPrefix(entry->isPacked() ? entry->unpackedName : key, QString());
    if (copies.contains(key) || installs.contains(target) || deletions.contains(target)) {
        reportDuplicate(copies.contains(key) ? key : target, section);
        return false;
    }
    copies.insert(key);
    installs.insert(target);
    if (key.endsWith(FilePatchSpecification::patchFileOf(QString()))
        || key.endsWith(FilePatchSpecification::resultFileOf(QString())))
        patchWorkNames.insert(key);

    // Whether the file is installed and current, or waits verified in the
    // temporary directory, and what a cut-off run left beside it, is found
    // out for all files at once, on every core, once the whole product ini
    // has proved sound. Its leftovers join the delete list where they would
    // have been found in reading order.
    candidates.push_back(std::move(candidate));
    return true;
}

void MakeDownloadReplaceListFunc::judgeCandidates(int keysDone, int count)
{
    // One verdict per candidate, written by the worker that checked it.
    enum Verdict : quint8 { Current, CopyWaiting, Needed };
    std::vector<Verdict> verdicts(size_t(candidates.size()), Needed);
    std::vector<quint8> leftovers(size_t(candidates.size()), 0);
    std::vector<std::shared_ptr<const FilePatchSpecification>> patches(size_t(candidates.size()));
    const auto check = [this, &verdicts, &leftovers, &patches](int index, FileMd5& md5) {
        const Candidate& candidate = candidates.at(size_t(index));
        const FileReplaceSpecification replace = candidate.replace();
        const FileDownloadSpecification download = candidate.download(replace);
        leftovers[size_t(index)] = findLeftovers(replace);
        // The digest alone decides: a listed size that is wrong while the
        // digest is right would have the file replaced on every run.
        const QString installed = clientDir + QLatin1Char('/') + replace.destFileName(QString());
        const bool current = md5.matches(installed, replace.hasUnzip() ? replace.md5 : download.md5);
        // Empty when the installed file cannot be read: no patch starts there.
        const QByteArray installedHex = md5.hex();
        if (current) {
            verdicts[size_t(index)] = Current;
        } else if (md5.matches(tempDir + QLatin1Char('/') + download.fileName, download.md5)) {
            verdicts[size_t(index)] = CopyWaiting;
        } else if (patchIndex) {
            if (std::optional<FilePatchSpecification> patch = choosePatch(download, replace, installedHex))
                patches[size_t(index)] = std::make_shared<const FilePatchSpecification>(std::move(*patch));
        }
    };
    // Progress goes out a few times a second, not once per file: a queued
    // signal per file would flood the GUI thread's event queue.
    double reported = -1;
    const auto report = [this, keysDone, count, &reported](int done) {
        const double fraction = double(keysDone + done) / double(count);
        if (fraction != reported)
            emit progress(fraction);
        reported = fraction;
    };
    ParallelFor pool(qsizetype(candidates.size()));
    pool.setProgress(report);
    // A run the task has given up on would only keep the disks busy.
    pool.setCancel([this] { return abandoned(); });
    pool.runWith<FileMd5>(check);

    mergeLeftovers(leftovers);
    // Lists of exactly the size they need; each candidate goes as its
    // records go in, so no file is held twice for long.
    const auto replaced =
        std::count_if(verdicts.begin(), verdicts.end(), [](Verdict v) { return v != Current; });
    const auto fetched = std::count(verdicts.begin(), verdicts.end(), Needed);
    lists->replaceList.reserve(lists->replaceList.size() + replaced);
    lists->downloadList.reserve(lists->downloadList.size() + fetched);
    for (size_t i = 0; !candidates.empty(); ++i) {
        if (verdicts[i] != Current) {
            FileReplaceSpecification replace = candidates.front().replace();
            if (verdicts[i] == Needed) {
                FileDownloadSpecification download = candidates.front().download(replace);
                download.patch = std::move(patches[i]);
                lists->downloadList.append(std::move(download));
            }
            lists->replaceList.append(std::move(replace));
        }
        candidates.pop_front();
    }
    candidates = {};
}

quint8 MakeDownloadReplaceListFunc::findLeftovers(const FileReplaceSpecification& replace) const
{
    // An installation cut short (power loss, killed process) can leave an
    // old copy beside a file that is current now, or with no file beside it
    // at all; the installation only deals with a copy when it moves an
    // existing file aside. The updater's own files keep theirs until the next
    // start, as after a normal self-update.
    quint8 found = 0;
    const QString dir = clientDir + QLatin1Char('/');
    if (!SpecialFiles::isSpecialFileName(QFileInfo(replace.pureDestFilePath()).fileName())
        && QFileInfo::exists(dir + replace.oldDestFileName()))
        found |= OldCopyLeft;
    // So can the new content of a file that was being written; it is never in
    // use. Writing the file again starts afresh in any case.
    if (QFileInfo::exists(dir + replace.destFileName(ReleaseNames::stagingPrefix())))
        found |= StagedCopyLeft;
    return found;
}

void MakeDownloadReplaceListFunc::mergeLeftovers(const std::vector<quint8>& leftovers)
{
    // Only the delete section fills the list while reading: the leftovers of
    // the files read before it come first, those read after it follow it.
    const QList<QString> listed = std::exchange(lists->deleteList, {});
    const auto addLeftovers = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i) {
            if (leftovers[size_t(i)] == 0)
                continue;
            const FileReplaceSpecification replace = candidates.at(size_t(i)).replace();
            if (leftovers[size_t(i)] & OldCopyLeft)
                lists->deleteList.append(replace.oldDestFileName());
            if (leftovers[size_t(i)] & StagedCopyLeft)
                lists->deleteList.append(replace.destFileName(ReleaseNames::stagingPrefix()));
        }
    };
    const auto count = qsizetype(candidates.size());
    const qsizetype split = candidatesBeforeDeletes < 0 ? count : candidatesBeforeDeletes;
    addLeftovers(0, split);
    lists->deleteList.append(listed);
    addLeftovers(split, count);
}

FileReplaceSpecification MakeDownloadReplaceListFunc::Candidate::replace() const
{
    FileReplaceSpecification replace;
    replace.section = section;
    replace.fileName = key;
    const Digits& installed = unzipName.isEmpty() ? md5 : unpackedMd5;
    replace.md5 = QString::fromLatin1(installed.data(), qsizetype(installed.size()));
    replace.size = unpackedSize;
    replace.unzipName = unzipName;
    return replace;
}

FileDownloadSpecification MakeDownloadReplaceListFunc::Candidate::download(
    const FileReplaceSpecification& replace) const
{
    const QString digest =
        replace.hasUnzip() ? QString::fromLatin1(md5.data(), qsizetype(md5.size())) : replace.md5;
    return {section, key, digest, size};
}

void MakeDownloadReplaceListFunc::reportInvalidLine(const QString& section)
{
    emit message(QStringLiteral("Warning: product ini contains invalid line in section %1").arg(section));
}

void MakeDownloadReplaceListFunc::reportDuplicate(const QString& path, const QString& section)
{
    emit message(QStringLiteral("Warning: product ini lists %1 more than once, again in section %2")
                     .arg(path, section));
}

void MakeDownloadReplaceListFunc::reportNameProblem(
    const QString& path, const QString& section, const QString& problem)
{
    if (!ReleaseNames::isPlainRelativePath(path))
        emit message(
            QStringLiteral("Warning: product ini contains unsafe path %1 in section %2").arg(path, section));
    else
        emit message(QStringLiteral("Warning: product ini contains invalid name %1 in section %2: %3")
                         .arg(path, section, problem));
}
