// Base of the quick file operations.
#include "fastfileoptaskspecification.h"

#include "fileops/rollback.h"

FastFileOpTaskSpecification::FastFileOpTaskSpecification(
    const QString& path, RollbackDataList* list, QObject* parent, double parentProgressRange)
    : TaskSpecification(parent, parentProgressRange)
    , rollbackList(list)
    , path(path)
{
}

void FastFileOpTaskSpecification::execute()
{
    setRunning();
    if (doOp())
        finish();
    else
        errorCancel();
}

void FastFileOpTaskSpecification::addRollbackOp(const RollbackData& record)
{
    if (rollbackList)
        rollbackList->add(record);
}
