// A task made of subtasks: runs them in order, at most maxParallel at a time,
// sums their weighted progress, relays their log lines and errors, and ends
// according to how they ended.
#pragma once

#include "taskspecification.h"

#include <QHash>
#include <QList>
#include <QSet>

class ComposedTaskSpecification : public TaskSpecification {
    Q_OBJECT

public:
    /// Note the argument order, unlike the base: maxParallel bounds the number
    /// of subtasks running at once.
    ComposedTaskSpecification(int maxParallel, double parentProgressRange, QObject* parent);
    ~ComposedTaskSpecification() override;

    void reset() override;
    /// The sum of the subtasks' figures, ended ones included (see TransferFigures::operator+=).
    TransferFigures timeTick() override;
    /// Passes the request to every subtask while running; pending ones will not start.
    void userCanceled() override;
    void handleOtherTaskCancelled(TaskSpecification* other) override;

    /// Appends a subtask (created with this as its QObject parent) to the run.
    void addSubTask(TaskSpecification* subTask);
    /// Starts the run: sets Running and queues up to maxParallel starts.
    void executeSubTasks();
    /// The final state the subtasks call for: error before user cancel before success.
    TaskState getStateFromSubTasks() const;
    /// Disconnects and schedules the deletion of every subtask, then empties the lists.
    void clearSubTasks();

signals:
    void startNextTask();

protected:
    // Called once when nothing runs and nothing will start; ends this task.
    virtual void subtasksDone();
    // Ends this task in outcome: Finished, UserCanceled, or else ErrorCanceled.
    void endWith(TaskState outcome);
    virtual void connectSignals(TaskSpecification* subTask);

    // For lists of many subtasks: count more subtasks follow those added,
    // each made by makeSubTask(index), index 0 to count - 1, only when its
    // turn to start comes, and deleted (deferred) once it has ended. Its
    // share of the progress, its final state and its last timeTick figures
    // stay counted. A composite that uses this resets with clearSubTasks().
    void addSubTasksOnDemand(int count);
    // Makes the subtask at index with this as parent and its weight.
    virtual TaskSpecification* makeSubTask(int index);

    // The subtasks of this run, kept by the composite; subclasses read them.
    // Every subtask added (and not yet released), in order of addition.
    QList<TaskSpecification*> allSubTasks;
    // Added and not yet started; the front starts next.
    QList<TaskSpecification*> pendingSubTasks;
    QList<TaskSpecification*> runningSubTasks;
    // Ended, in order of ending.
    QList<TaskSpecification*> doneSubTasks;
    // Some subtask was cancelled during this run: nothing more starts.
    bool subTaskCanceled = false;

private slots:
    void onStartNextTask();
    void onSubTaskFinished(TaskSpecification* task);
    void onSubTaskCanceled(TaskSpecification* task);

private:
    const int maxParallel;
    // subtasksDone() has been called during this run.
    bool doneReported = false;

    bool hasPendingSubTasks() const { return !pendingSubTasks.isEmpty() || onDemandMade < onDemandCount; }
    TaskSpecification* takeNextSubTask();
    // Deletes a subtask made on demand once it has ended, keeping what the
    // composite still needs to know of it.
    void retire(TaskSpecification* subTask);

    // A subtask reported progress: takes its new share into this task's progress.
    void onUpdateProgress(TaskSpecification* subTask);
    // Replaces the share of subTask in the running sum with its current
    // progress and returns the new sum.
    double accountProgress(TaskSpecification* subTask);

    // The sum of the subtasks' progress, kept up to date report by
    // report so that a progress report costs the same however many subtasks
    // there are. long double keeps the rounding drift of millions of
    // increments far below what anyone could see.
    long double progressSum = 0.0L;
    QHash<TaskSpecification*, double> countedProgress;

    int onDemandCount = 0;
    int onDemandMade = 0;
    // Made on demand and not yet retired.
    QSet<TaskSpecification*> onDemandAlive;
    // What is left of the retired subtasks.
    struct Retired {
        int errorCanceled = 0;
        int userCanceled = 0;
        /// Their last figures; the speed until a tick has reported it.
        TransferFigures figures;
    } retired;
};
