// The undo journal of the installation phase.
#include "rollback.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "fileops/atomicreplace.h"
#include "fileops/renamenoreplace.h"

RollbackData::RollbackData(Operation operation, const QString& path)
    : path(path)
    , operation(operation)
{
}

RollbackData::RollbackData(Operation operation, const QString& from, const QString& to)
    : path(to)
    , previousPath(from)
    , operation(operation)
{
}

RollbackData RollbackData::placed(const QString& target, const QString& old)
{
    return old.isEmpty() ? RollbackData(CreateFile, target) : RollbackData(Replace, old, target);
}

bool RollbackData::rollback(const RollbackWarning& warn) const
{
    const auto report = [&warn](const QString& text) {
        if (warn)
            warn(text);
    };
    switch (operation) {
    case Rename:
        // Never overwrite: if something new took the old name meanwhile, it is
        // not ours to destroy.
        if (renameNoReplace(path, previousPath))
            return true;
        report(QStringLiteral("warning: rollback rename %1 to %2 failed").arg(previousPath, path));
        return false;
    case CreateFile:
        if (QFile::remove(path))
            return true;
        report(QStringLiteral("warning: rollback create file %1 failed").arg(path));
        return false;
    case Replace:
        // The previous content takes its name back in one step, as it left.
        if (AtomicReplace::restoreOld(previousPath, path))
            return true;
        report(QStringLiteral("warning: rollback rename %1 to %2 failed").arg(path, previousPath));
        return false;
    case CreateDir:
        // rmdir removes only an empty directory, so files we did not create survive.
        if (QFileInfo(path).dir().rmdir(QDir(path).dirName()))
            return true;
        report(QStringLiteral("warning: rollback create dir %1 failed").arg(path));
        return false;
    }
    qFatal("Should not reach here");
}

void RollbackDataList::add(const RollbackData& record)
{
    append(record);
}

void RollbackDataList::appendList(const RollbackDataList& other)
{
    append(other);
}

bool RollbackDataList::rollback(const RollbackWarning& warn)
{
    bool result = true;
    while (!isEmpty()) {
        const RollbackData record = takeLast();
        if (!record.rollback(warn))
            result = false;
    }
    return result;
}
