// The last stage of an update: removes obsolete files.
#include "filedeletelisttaskspecification.h"

#include <QFileInfo>
#include <QStringList>

#include "fileops/filedeletetaskspecification.h"
#include "fileops/pathguard.h"
#include "release/releasenames.h"
#include "update/updateparameters.h"

FileDeleteListTaskSpecification::FileDeleteListTaskSpecification(const QList<QString>& fileList,
    const UpdateParameters& parameters, QObject* parent, double parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent)
    , fileList(fileList)
    , clientDir(parameters.clientDir)
{
}

void FileDeleteListTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting deleting files"));
    makeSubtasksAndStart();
}

void FileDeleteListTaskSpecification::makeSubtasksAndStart()
{
    const PathGuard::Root root(clientDir);
    QStringList paths;
    for (const QString& entry : fileList) {
        // An absolute entry or one with ".." would delete outside the
        // installation; so would one that runs through a linked directory.
        const QString path = root.pathInside(entry);
        if (path.isEmpty())
            emit message(QStringLiteral("Refusing to delete %1: its path leads outside the client directory")
                             .arg(entry));
        else
            paths.append(path);
    }

    for (const QString& path : std::as_const(paths)) {
        auto* deletion = new FileDeleteTaskSpecification(false, path, this, 1.0 / paths.size());
        // A directory that became a file was kept under its "_old_" name
        // like a file, and goes like one once the update has succeeded. Only
        // the updater itself puts such names on the list: a release may not.
        deletion->setRemovesDirectory(QFileInfo(path).fileName().startsWith(ReleaseNames::oldPrefix()));
        addSubTask(deletion);
    }
    setRunning();
    executeSubTasks();
}

void FileDeleteListTaskSpecification::reset()
{
    clearSubTasks();
    TaskSpecification::reset();
}
