// The installation phase of an update.
#include "filereplacelisttaskspecification.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include "fileops/atomicreplace.h"
#include "fileops/batchinstalltaskspecification.h"
#include "fileops/dircreatetaskspecification.h"

FileReplaceListTaskSpecification::FileReplaceListTaskSpecification(
    const QList<FileReplaceSpecification>& replaceList, QList<QString>& deleteList,
    const UpdateParameters& parameters, QObject* parent, double parentProgressRange)
    : ComposedTaskSpecification(2, parentProgressRange, parent)
    , replaceList(replaceList)
    , deleteList(deleteList)
    , parameters(parameters)
{
    // Everything the phase journals lies in the client directory; kept
    // relative to it, 100,000 records take a fifth of the memory.
    journal.setBaseDirectory(parameters.clientDir);
}

void FileReplaceListTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting file updates"));
    makeSubtasksAndStart();
}

void FileReplaceListTaskSpecification::makeSubtasksAndStart()
{
    // Refuse the whole list before the first directory is made, rather than
    // find a bad entry halfway and have to undo.
    clientRoot.emplace(parameters.clientDir);
    tempRoot.emplace(parameters.tempDir);
    for (const FileReplaceSpecification& entry : replaceList) {
        QString source;
        QString target;
        QString old;
        if (!FileReplaceTaskSpecification::installPaths(entry, *clientRoot, *tempRoot, source, target, old)) {
            setRunning();
            emit message(QStringLiteral("Refusing to install %1: its path leads outside the client directory")
                             .arg(entry.pureDestFilePath()));
            errorCancel();
            return;
        }
    }

    const int directoryTasks = makeSubdirTasks();
    makeFileReplaceTasks(directoryTasks > 0);
    setRunning();
    executeSubTasks();
}

int FileReplaceListTaskSpecification::makeSubdirTasks()
{
    const QString root = parameters.clientDir;
    QSet<QString> seen;
    QStringList missing;
    for (const FileReplaceSpecification& entry : replaceList) {
        const QString dir = QFileInfo(root + QLatin1Char('/') + entry.destFileName(QString())).path();
        if (seen.contains(dir))
            continue;
        seen.insert(dir);
        if (!QFileInfo(dir).isDir())
            missing.append(dir);
    }
    // A directory sorts before the directories below it.
    missing.sort();
    for (const QString& dir : std::as_const(missing))
        addSubTask(new DirCreateTaskSpecification(dir, &journal, this, 0.1 / missing.size()));
    return missing.size();
}

void FileReplaceListTaskSpecification::makeFileReplaceTasks(bool hasDirectoryTasks)
{
    // A file's task exists only while the file is installed; the directory
    // tasks before them are few.
    entries = replaceList;
    fileShare = (hasDirectoryTasks ? 0.9 : 1.0) / entries.size();
    addSubTasksOnDemand(int(entries.size()));
}

TaskSpecification* FileReplaceListTaskSpecification::makeSubTask(int index)
{
    // A batch that failed ends the phase: no more files are staged.
    if (placingFailed)
        return nullptr;
    // A slot has just freed: a good moment to hand a full batch over.
    if (!placing && staged.size() >= placingBatchFiles)
        startPlacing();
    return new FileReplaceTaskSpecification(
        entries.at(index), staged, journal, *clientRoot, *tempRoot, this, fileShare);
}

void FileReplaceListTaskSpecification::startPlacing()
{
    QList<InstallStep> steps;
    steps.reserve(staged.size());
    for (const StagedReplacement& file : std::as_const(staged))
        steps.append({file.target, file.old});
    beingPlaced = staged;
    staged.clear();
    placing = new BatchInstallTaskSpecification(steps, journal, this, 0.0);
    connect(placing, &TaskSpecification::message, this, &TaskSpecification::message);
    connect(placing, &TaskSpecification::finished, this, &FileReplaceListTaskSpecification::onPlacingEnded);
    connect(placing, &TaskSpecification::canceled, this, &FileReplaceListTaskSpecification::onPlacingEnded);
    placing->execute();
}

void FileReplaceListTaskSpecification::onPlacingEnded()
{
    // The batch has journaled what it did.
    const int placed = placing->placedCount();
    for (int i = 0; i < placed; ++i) {
        if (!beingPlaced.at(i).old.isEmpty())
            FileReplaceTaskSpecification::listOldCopy(beingPlaced.at(i).entry, deleteList);
    }
    if (placed < beingPlaced.size())
        placingFailed = true;
    beingPlaced.clear();
    placing->deleteLater();
    placing = nullptr;
    if (endAfterPlacing)
        subtasksDone();
}

void FileReplaceListTaskSpecification::discardStaged()
{
    for (const StagedReplacement& file : std::as_const(staged))
        AtomicReplace::discardStaged(file.target);
    staged.clear();
}

void FileReplaceListTaskSpecification::subtasksDone()
{
    endAfterPlacing = true;
    if (placing)
        return;
    TaskState outcome = placingFailed ? ErrorCanceled : getStateFromSubTasks();
    // A cancel that came once every file was staged or in place, before the
    // phase ended, is a cancel all the same: the later phases will not run,
    // and finishing here would leave the new files with the "_old_" copies
    // beside them while the update reports itself cancelled.
    if (outcome == Finished && cancelRequested())
        outcome = UserCanceled;
    if (outcome == Finished && !staged.isEmpty()) {
        startPlacing();
        return;
    }
    endAfterPlacing = false;
    if (outcome != Finished) {
        discardStaged();
        emit message(QStringLiteral("rolling back file updates"));
        journal.rollback([this](const QString& warning) { emit message(warning); });
    }
    endWith(outcome);
}

void FileReplaceListTaskSpecification::reset()
{
    clearSubTasks();
    entries.clear();
    if (placing) {
        placing->reset();
        // A batch stopped before it began leaves its files staged.
        for (qsizetype i = placing->placedCount(); i < beingPlaced.size(); ++i)
            AtomicReplace::discardStaged(beingPlaced.at(i).target);
        placing->deleteLater();
        placing = nullptr;
    }
    beingPlaced.clear();
    discardStaged();
    placingFailed = false;
    endAfterPlacing = false;
    journal.rollback([this](const QString& warning) { emit message(warning); });
    clientRoot.reset();
    tempRoot.reset();
    TaskSpecification::reset();
}
