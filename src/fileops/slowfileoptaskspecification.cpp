// Base of the file operations that run on the thread pool.
#include "slowfileoptaskspecification.h"

#include <utility>

#include "fileops/rollback.h"

SlowFileOpSpecification::SlowFileOpSpecification(QString failureMessage, RollbackDataList* list,
    const QString& source, const QString& destination, QObject* parent, double parentProgressRange)
    : ASyncTaskSpecification(parent, parentProgressRange)
    , rollbackList(list)
    , source(source)
    , destination(destination)
    , failureMessage(std::move(failureMessage))
{
}

void SlowFileOpSpecification::runDone(bool ok)
{
    if (!ok)
        emit message(failureMessage);
    // Journaled whatever our state: the file exists now, and only the journal
    // will ever remove it again.
    if (ok && rollbackList)
        rollbackList->add(RollbackData(RollbackData::CreateFile, destination));
    ASyncTaskSpecification::runDone(ok);
}

SlowFileOpFunc::SlowFileOpFunc(const QString& source, const QString& destination)
    : source(source)
    , destination(destination)
{
}
