// The base of every unit of work in an update session: lifecycle state,
// weighted progress and the signals that carry results up the task tree.
#pragma once

#include <QObject>

#include "tasks/transferfigures.h"

class TaskSpecification : public QObject {
    Q_OBJECT

public:
    /// Stored as plain integers; other parts of the program compare the numbers.
    enum TaskState {
        NotStarted = 0,
        Running = 1,
        Finished = 2,
        ErrorCanceled = 3,
        UserCanceled = 4,
    };
    Q_ENUM(TaskState)

    /// parentProgressRange is the share of the parent's progress this task covers.
    TaskSpecification(QObject* parent, double parentProgressRange);

    /// fraction is this task's own completion in 0..1; progress becomes
    /// fraction x parentProgressRange and updateProgress carries that value.
    void setProgress(double fraction);
    /// Replaces the weight without re-emitting progress.
    void setParentProgressRange(double range);

    /// Starts the task; exactly one of finished or canceled follows.
    virtual void execute() = 0;
    /// Returns the task to NotStarted so that execute() may run again.
    virtual void reset();
    /// Polled once a second through the tree; download tasks report their
    /// figures, every other task zeros and no active transfer.
    virtual TransferFigures timeTick();
    /// The user asked the task to stop. The base only records the request:
    /// a task that cannot be interrupted runs its current work to its end.
    virtual void userCanceled();
    /// Another task of the same composite was cancelled while this one runs.
    virtual void handleOtherTaskCancelled(TaskSpecification* other);

    TaskState state() const { return m_state; }
    /// Already weighted: runs from 0 to parentProgressRange().
    double progress() const { return m_progress; }
    double parentProgressRange() const { return m_parentProgressRange; }
    /// Set by userCanceled(), cleared by reset().
    bool cancelRequested() const { return m_cancelRequested; }

signals:
    void finished(TaskSpecification* task);
    void canceled(TaskSpecification* task);
    void error(QString errorMessage);
    void updateProgress(qreal doneFrac);
    void message(QString message);
    void otherTaskCancelled(TaskSpecification* task);

protected slots:
    void onOtherTaskCancelled(TaskSpecification* other);

protected:
    // A subclass's execute() marks the start of its run.
    void setRunning() { m_state = Running; }
    // The three ways a run ends; each is called once per run by a subclass.
    void finish();
    void errorCancel();
    void userCancel();

private:
    bool m_cancelRequested = false;
    double m_parentProgressRange;
    double m_progress = 0.0;
    TaskState m_state = NotStarted;
};
