// The installation phase of an update.
#include "filereplacelisttaskspecification.h"

#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include "fileops/dircreatetaskspecification.h"
#include "update/filereplacetaskspecification.h"

FileReplaceListTaskSpecification::FileReplaceListTaskSpecification(
    QList<FileReplaceSpecification>* replaceList, QList<QString>* deleteList,
    const UpdateParameters& parameters, QObject* parent, double parentProgressRange)
    : ComposedTaskSpecification(2, parentProgressRange, parent)
    , replaceList(replaceList)
    , deleteList(deleteList)
    , parameters(parameters)
{
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
    for (const FileReplaceSpecification& entry : std::as_const(*replaceList)) {
        QString source;
        QString target;
        QString old;
        if (!FileReplaceTaskSpecification::installPaths(entry, parameters, source, target, old)) {
            state = Running;
            emit message(QStringLiteral("Refusing to install %1: its path leads outside the client directory")
                             .arg(entry.pureDestFilePath()));
            errorCancel();
            return;
        }
    }

    const int directoryTasks = makeSubdirTasks();
    makeFileReplaceTasks(directoryTasks > 0);
    state = Running;
    executeSubTasks();
}

int FileReplaceListTaskSpecification::makeSubdirTasks()
{
    const QString root = parameters.clientDir;
    QSet<QString> seen;
    QStringList missing;
    for (const FileReplaceSpecification& entry : std::as_const(*replaceList)) {
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
    entries = *replaceList;
    fileShare = (hasDirectoryTasks ? 0.9 : 1.0) / entries.size();
    addSubTasksOnDemand(int(entries.size()));
}

TaskSpecification* FileReplaceListTaskSpecification::makeSubTask(int index)
{
    return new FileReplaceTaskSpecification(
        entries.at(index), deleteList, &journal, parameters, this, fileShare);
}

void FileReplaceListTaskSpecification::subtasksDone()
{
    if (getStateFromSubTasks() != Finished) {
        emit message(QStringLiteral("rolling back file updates"));
        journal.rollback(this);
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceListTaskSpecification::reset()
{
    clearSubTasks();
    entries.clear();
    journal.rollback(this);
    TaskSpecification::reset();
}
