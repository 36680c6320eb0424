// Base of the quick file operations that run to their end inside execute()
// on the GUI thread and record what they changed in the undo journal.
#pragma once

#include "tasks/taskspecification.h"

class RollbackData;
class RollbackDataList;

class FastFileOpTaskSpecification : public TaskSpecification {
    Q_OBJECT
public:
    /// list: journal to record into, not owned; null records nothing.
    FastFileOpTaskSpecification(
        const QString& path, RollbackDataList* list, QObject* parent, double parentProgressRange);

    /// Does the whole operation and ends the task (finished or canceled)
    /// before returning; failure details go out as message lines first.
    void execute() override;

protected:
    /// The operation itself; true on success.
    virtual bool doOp() = 0;
    void addRollbackOp(const RollbackData& record);

    RollbackDataList* rollbackList;
    QString path;
};
