// Installs one downloaded file into the client directory.
#include "filereplacetaskspecification.h"

#include <QFileInfo>

#include "fileops/filecopytaskspecification.h"
#include "fileops/filedeletetaskspecification.h"
#include "fileops/fileunziptaskspecification.h"
#include "fileops/pathguard.h"
#include "release/specialfiles.h"

const QStringList FileReplaceTaskSpecification::executableFiles {QStringLiteral("update"),
    QStringLiteral("davuzodur_runscript.sh"), QStringLiteral("davuzodur_linux_amd64"),
    QStringLiteral("davuzodur_linux_x86")};
const QStringList FileReplaceTaskSpecification::executableSuffixes {
    QStringLiteral("so"), QStringLiteral("so.4")};

namespace {

// Read and run by all, changed by the owner alone; the umask may take more away.
constexpr int executableMode = 0755;

// A link at the path counts as a file there even when it dangles: it is set
// aside like any other installed file.
bool isTaken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

FileReplaceTaskSpecification::FileReplaceTaskSpecification(const FileReplaceSpecification& entry,
    QList<StagedReplacement>& staged, RollbackDataList& listJournal, const PathGuard::Root& clientDir,
    const PathGuard::Root& tempDir, QObject* parent, double parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent)
    , replaceSpec(entry)
    , stagedList(staged)
    , listJournal(listJournal)
    , clientRoot(clientDir)
    , tempRoot(tempDir)
{
}

bool FileReplaceTaskSpecification::installPaths(const FileReplaceSpecification& entry,
    const PathGuard::Root& clientDir, const PathGuard::Root& tempDir, QString& source, QString& target,
    QString& old)
{
    source = tempDir.pathInside(entry.fileName);
    target = clientDir.pathInside(entry.destFileName(QString()));
    old = clientDir.pathInside(entry.oldDestFileName());
    return !source.isEmpty() && !target.isEmpty() && !old.isEmpty();
}

void FileReplaceTaskSpecification::execute()
{
    emit message(QStringLiteral("add/replace %1").arg(replaceSpec.fileName));
    makeSubtasksAndStart();
}

void FileReplaceTaskSpecification::makeSubtasksAndStart()
{
    QString source;
    QString target;
    QString old;
    if (!installPaths(replaceSpec, clientRoot, tempRoot, source, target, old)) {
        setRunning();
        emit message(QStringLiteral("Refusing to install %1: its path leads outside the client directory")
                         .arg(replaceSpec.pureDestFilePath()));
        errorCancel();
        return;
    }

    double remaining = 1.0;
    InstallOptions options;
    // Checked on the bytes the installation writes, so a download changed
    // after its own check is never installed.
    options.md5 = replaceSpec.md5;
    if (replaceSpec.hasUnzip())
        options.sizeLimit = qint64(replaceSpec.size);
    // A leftover "_old_" copy next to a file that is not installed stays
    // alone: nothing is set aside onto it.
    if (isTaken(target)) {
        if (isTaken(old)) {
            addSubTask(new FileDeleteTaskSpecification(true, old, this, 0.1));
            remaining -= 0.1;
        }
        options.oldPath = old;
    }
    // A program or library must never be writable by others: anyone could
    // then change what the next update or client start runs. Everything else
    // keeps the bits the user gave the file it replaces.
    if (isExecutable(target))
        options.mode = executableMode;
    else
        options.keepReplacedMode = true;

    SlowFileOpTaskSpecification* install = replaceSpec.hasUnzip()
        ? static_cast<SlowFileOpTaskSpecification*>(
            new FileUnzipTaskSpecification(&journal, source, target, this, remaining))
        : new FileCopyTaskSpecification(&journal, source, target, this, remaining);
    options.deferPlacing = true;
    stagedTarget = target;
    stagedOld = options.oldPath;
    install->setInstallOptions(options);
    addSubTask(install);

    setRunning();
    executeSubTasks();
}

void FileReplaceTaskSpecification::subtasksDone()
{
    const TaskState outcome = getStateFromSubTasks();
    if (outcome == Finished) {
        // From now on the phase undoes this file's changes if it fails.
        listJournal.appendList(journal);
        journal.clear();
        stagedList.append({replaceSpec, stagedTarget, stagedOld});
    } else {
        journal.rollback([this](const QString& warning) { emit message(warning); });
    }

    // The steps have nothing more to say; a release of 20,000 files would
    // otherwise keep some 80,000 of them alive until the phase ends.
    clearSubTasks();
    endWith(outcome);
}

void FileReplaceTaskSpecification::listOldCopy(
    const FileReplaceSpecification& entry, QList<QString>& deleteList)
{
    // The updater's own files are in use while it runs; their old copies go
    // at its next start.
    if (!SpecialFiles::isSpecialFileName(QFileInfo(entry.pureDestFilePath()).fileName()))
        deleteList.append(entry.oldDestFileName());
}

bool FileReplaceTaskSpecification::isExecutable(const QString& path)
{
    const QFileInfo info(path);
    return executableFiles.contains(info.fileName()) || executableSuffixes.contains(info.completeSuffix());
}

void FileReplaceTaskSpecification::reset()
{
    clearSubTasks();
    journal.rollback([this](const QString& warning) { emit message(warning); });
    TaskSpecification::reset();
}
