// Creates a directory and any missing parents, journaling each one it creates.
#include "dircreatetaskspecification.h"

#include <QDir>
#include <QFileInfo>

#include "fileops/rollback.h"

DirCreateTaskSpecification::DirCreateTaskSpecification(
    const QString& dirPath, RollbackDataList* list, QObject* parent, double parentProgressRange)
    : FastFileOpTaskSpecification(dirPath, list, parent, parentProgressRange)
{
}

bool DirCreateTaskSpecification::doOp()
{
    // A trailing slash or "a/./b" would otherwise make the last component
    // and the parent disagree, and the directory would be created twice over.
    return tryCreateDir(QDir::cleanPath(path));
}

bool DirCreateTaskSpecification::tryCreateDir(const QString& dir)
{
    const QFileInfo info(dir);
    if (info.exists()) {
        if (info.isDir())
            return true;
        emit message(
            QStringLiteral("Could not create dir '%1' because it already exists and is not a dir").arg(dir));
        return false;
    }

    // A relative path stops at the working directory: whatever that happens
    // to be, it is not where the client lives, so nothing is created there.
    const QDir parent = info.dir();
    if (parent.path() == QLatin1String(".") || QDir(dir).isRoot()) {
        emit message(QStringLiteral("Could not create dir %1").arg(path));
        return false;
    }
    // Parents first, so the journal removes them after their children.
    if (!parent.exists() && !tryCreateDir(parent.path()))
        return false;

    if (!parent.mkdir(QDir(dir).dirName())) {
        emit message(QStringLiteral("unable to create dir %1").arg(dir));
        return false;
    }
    addRollbackOp(RollbackData(RollbackData::CreateDir, dir));
    return true;
}
