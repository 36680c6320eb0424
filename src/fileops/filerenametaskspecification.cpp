// Renames one file, never onto an existing name, and journals the rename.
#include "filerenametaskspecification.h"

#include "fileops/renamenoreplace.h"
#include "fileops/rollback.h"

FileRenameTaskSpecification::FileRenameTaskSpecification(const QString& from, const QString& to,
    RollbackDataList* list, QObject* parent, double parentProgressRange)
    : FastFileOpTaskSpecification(to, list, parent, parentProgressRange)
    , sourcePath(from)
{
}

bool FileRenameTaskSpecification::doOp()
{
    if (!renameNoReplace(sourcePath, path)) {
        emit message(QStringLiteral("Could not rename '%1' to '%2'").arg(sourcePath, path));
        return false;
    }
    addRollbackOp(RollbackData(RollbackData::Rename, sourcePath, path));
    return true;
}
