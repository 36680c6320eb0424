// Fuzz target: a product ini as any mirror could serve it, compiled into the
// download, replace and delete lists against a small installed client.
// Whatever the ini holds, a refused ini leaves no list behind, and an
// accepted one names only plain paths inside the client and temporary
// directories, each once, with sound digests and sizes. Where the raw scan
// reads the sections itself, it reads what the settings reader reads.
#include "fuzzsupport.h"

#include <limits>
#include <memory>

#include <QDir>
#include <QSet>

#include "fileops/pathguard.h"
#include "inisections.h"
#include "release/inikeyscan.h"
#include "release/releasefields.h"
#include "release/releasenames.h"
#include "update/filespecifications.h"
#include "update/makedownloadreplacelisttaskspecification.h"
#include "update/updateparameters.h"

using namespace FuzzSupport;

namespace {

UpdateParameters parameters;

// The first release of tests/fuzz/seeds.sh, installed, the seeds being the
// second: files that are current and files that are not, the updater
// itself, a leftover old copy and a file of the delete section.
void installClient(const QString& clientDir)
{
    const QDir dir(clientDir);
    dir.mkpath(QStringLiteral("bin"));
    dir.mkpath(QStringLiteral("data/sub"));
    writeFile(dir.filePath(QStringLiteral("bin/corvane")), "corvane client 2\n");
    writeFile(dir.filePath(QStringLiteral("data/readme.txt")), "an older readme\n");
    writeFile(dir.filePath(QStringLiteral("data/sub/notes.txt")), "notes 2\n");
    writeFile(dir.filePath(QStringLiteral("update")), "the updater\n");
    writeFile(dir.filePath(QStringLiteral("data/_old_readme.txt")), "left by a cut installation\n");
    writeFile(dir.filePath(QStringLiteral("obsolete.txt")), "to be deleted\n");
}

void expectInside(const QString& root, const QString& relative, const char* what)
{
    // The system would read the name only up to a zero character.
    expect(!relative.contains(QChar(0)), what, relative);
    expect(ReleaseNames::isPlainRelativePath(relative) && !ReleaseNames::hasControlCharacter(relative), what,
        relative);
    expect(!PathGuard::pathInside(root, relative).isEmpty(), what, relative);
}

// A file of the release, not one of the updater's working names.
void expectReleaseName(const QString& relative)
{
    expect(ReleaseNames::fileNameProblem(relative, ReleaseNames::Rules::Updater).isEmpty(),
        "a name the updater refuses", relative);
}

void checkAccepted(const FileSpecifications& lists)
{
    constexpr quint64 maxSizeBytes = quint64(std::numeric_limits<qint64>::max());
    QSet<QString> copies;
    QSet<QString> targets;
    for (const FileReplaceSpecification& entry : lists.replaceList) {
        expectInside(parameters.tempDir, entry.fileName, "replace entry outside the temporary directory");
        const QString target = entry.destFileName(QString());
        expectInside(parameters.clientDir, target, "replace target outside the client directory");
        expectInside(parameters.clientDir, entry.oldDestFileName(), "old copy outside the client directory");
        expectReleaseName(entry.fileName);
        expectReleaseName(target);
        expect(!copies.contains(entry.fileName), "file installed twice", entry.fileName);
        expect(!targets.contains(target), "target installed twice", target);
        copies.insert(entry.fileName);
        targets.insert(target);
        expect(!entry.hasUnzip() || (ReleaseFields::isMd5Text(entry.md5) && entry.size <= maxSizeBytes),
            "unsound unpacked entry", entry.fileName);
    }
    QSet<QString> downloads;
    for (const FileDownloadSpecification& entry : lists.downloadList) {
        expect(copies.contains(entry.fileName), "download without installation", entry.fileName);
        expect(!downloads.contains(entry.fileName), "file downloaded twice", entry.fileName);
        downloads.insert(entry.fileName);
        expect(ReleaseFields::isMd5Text(entry.md5), "download digest is not an MD5", entry.md5);
        expect(entry.size <= maxSizeBytes, "download size beyond the signed range", entry.fileName);
    }
    for (const QString& path : lists.deleteList) {
        expectInside(parameters.clientDir, path, "deletion outside the client directory");
        expect(!targets.contains(path), "deletes what it installs", path);
        expect(ReleaseNames::ownFileProblem(path).isEmpty(), "deletes the updater's own file", path);
    }
}

void expectTheReadersSections(const QString& path, const QByteArray& ini)
{
    const std::optional<std::vector<IniKeyScan::SectionEntry>> entries =
        IniKeyScan::plainSectionEntries(ini, nullptr);
    if (!entries)
        return;
    const QStringList scanned = IniSections::asScanned(*entries);
    const QStringList read = IniSections::asRead(path);
    expect(scanned == read, "the raw scan reads the sections otherwise than the settings reader",
        scanned.join(QLatin1Char('\n')) + QStringLiteral("\n-- the reader:\n")
            + read.join(QLatin1Char('\n')));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    startApplication(argc, argv);
    parameters.clientDir = freshDir();
    parameters.tempDir = freshDir();
    installClient(parameters.clientDir);
    // A download an earlier attempt completed.
    QDir(parameters.tempDir).mkpath(QStringLiteral("bin"));
    writeFile(parameters.tempDir + QStringLiteral("/bin/corvane"), "corvane client 3\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The product ini lies in the temporary directory under the client
    // type's name; a fresh type per input gives a fresh file.
    parameters.clientType = freshName(QStringLiteral("client"));
    const QString path =
        parameters.tempDir + QLatin1Char('/') + parameters.clientType + QStringLiteral(".ini");
    const QByteArray ini = bytes(data, size);
    writeFile(path, ini);
    expectTheReadersSections(path, ini);

    auto lists = std::make_shared<FileSpecifications>();
    MakeDownloadReplaceListFunc compile(parameters, lists);
    if (compile.run())
        checkAccepted(*lists);
    else
        expect(lists->downloadList.isEmpty() && lists->replaceList.isEmpty() && lists->deleteList.isEmpty(),
            "a refused product ini left work lists");
    remove(path);
    return 0;
}
