// Base of the file operations that run on the thread pool (copy, unpack) and
// journal the file they created once the worker reports success.
#pragma once

#include "tasks/asynctaskspecification.h"

class RollbackDataList;

class SlowFileOpSpecification : public ASyncTaskSpecification {
    Q_OBJECT
public:
    /// failureMessage: the complete log line for a failure.
    /// list: journal to record into, not owned; null records nothing.
    SlowFileOpSpecification(QString failureMessage, RollbackDataList* list, const QString& source,
        const QString& destination, QObject* parent, double parentProgressRange);

protected:
    /// GUI thread, with the worker's result.
    void runDone(bool ok) override;

    RollbackDataList* rollbackList;
    QString source;
    QString destination;
    QString failureMessage;
};

/// Worker base: holds its own copies of the two paths.
class SlowFileOpFunc : public ASyncFunc {
    Q_OBJECT
public:
    SlowFileOpFunc(const QString& source, const QString& destination);

protected:
    QString source;
    QString destination;
};
