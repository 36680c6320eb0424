// A task made of subtasks.
#include "composedtaskspecification.h"

ComposedTaskSpecification::ComposedTaskSpecification(
    int maxParallel, double parentProgressRange, QObject* parent)
    : TaskSpecification(parent, parentProgressRange)
    , maxParallel(maxParallel)
{
    // The only queued connection in the tree: a subtask that finishes never
    // starts the next one inside its own call stack, so the depth stays
    // constant however many subtasks there are.
    connect(this, &ComposedTaskSpecification::startNextTask, this,
        &ComposedTaskSpecification::onStartNextTask, Qt::QueuedConnection);
}

ComposedTaskSpecification::~ComposedTaskSpecification()
{
    // Nothing may reach this half-destroyed object any more. The subtasks
    // are our children and go with us; scheduling tens of thousands of
    // deferred deletions here would make each of them search the event queue.
    for (TaskSpecification* subTask : std::as_const(allSubTasks))
        QObject::disconnect(subTask, nullptr, this, nullptr);
}

void ComposedTaskSpecification::addSubTask(TaskSpecification* subTask)
{
    allSubTasks.append(subTask);
    pendingSubTasks.append(subTask);
    connectSignals(subTask);
    onUpdateProgress(subTask);
}

void ComposedTaskSpecification::connectSignals(TaskSpecification* subTask)
{
    connect(subTask, &TaskSpecification::finished, this, &ComposedTaskSpecification::onSubTaskFinished);
    connect(subTask, &TaskSpecification::canceled, this, &ComposedTaskSpecification::onSubTaskCanceled);
    connect(subTask, &TaskSpecification::error, this, &TaskSpecification::error);
    // The subtask is bound here rather than looked up with sender(), which
    // walks every connection to this object and would make each report cost
    // as much as there are subtasks.
    connect(
        subTask, &TaskSpecification::updateProgress, this, [this, subTask] { onUpdateProgress(subTask); });
    connect(subTask, &TaskSpecification::message, this, &TaskSpecification::message);
    connect(this, &TaskSpecification::otherTaskCancelled, subTask,
        &ComposedTaskSpecification::onOtherTaskCancelled);
}

void ComposedTaskSpecification::addSubTasksOnDemand(int count)
{
    onDemandCount += count;
}

TaskSpecification* ComposedTaskSpecification::makeSubTask(int)
{
    return nullptr;
}

void ComposedTaskSpecification::executeSubTasks()
{
    setRunning();
    const int n = qMin(int(pendingSubTasks.size()) + (onDemandCount - onDemandMade), maxParallel);
    if (n == 0) {
        // An empty composite ends at once, in this very call.
        subtasksDone();
        return;
    }
    for (int i = 0; i < n; ++i)
        emit startNextTask();
}

void ComposedTaskSpecification::onStartNextTask()
{
    TaskSpecification* next = nullptr;
    if (hasPendingSubTasks() && !subTaskCanceled && !cancelRequested())
        next = takeNextSubTask();
    if (next) {
        runningSubTasks.append(next);
        next->execute();
    } else if (runningSubTasks.isEmpty() && !doneReported) {
        doneReported = true;
        subtasksDone();
    }
}

TaskSpecification* ComposedTaskSpecification::takeNextSubTask()
{
    if (!pendingSubTasks.isEmpty())
        return pendingSubTasks.takeFirst();
    TaskSpecification* subTask = makeSubTask(onDemandMade++);
    if (!subTask)
        return nullptr;
    allSubTasks.append(subTask);
    onDemandAlive.insert(subTask);
    connectSignals(subTask);
    return subTask;
}

void ComposedTaskSpecification::retire(TaskSpecification* subTask)
{
    if (!onDemandAlive.remove(subTask))
        return;
    if (subTask->state() == ErrorCanceled)
        ++retired.errorCanceled;
    else if (subTask->state() == UserCanceled)
        ++retired.userCanceled;
    TransferFigures last = subTask->timeTick();
    // It has ended: nothing of it is transferring any more.
    last.active = false;
    retired.figures += last;
    // Its share stays in progressSum.
    countedProgress.remove(subTask);
    allSubTasks.removeOne(subTask);
    QObject::disconnect(subTask, nullptr, this, nullptr);
    QObject::disconnect(this, nullptr, subTask, nullptr);
    // Deferred: we are inside its own signal.
    subTask->deleteLater();
}

void ComposedTaskSpecification::onSubTaskFinished(TaskSpecification* task)
{
    runningSubTasks.removeOne(task);
    if (onDemandAlive.contains(task))
        retire(task);
    else
        doneSubTasks.append(task);
    // Each finish frees one slot; what happens next is decided from the event loop.
    emit startNextTask();
}

void ComposedTaskSpecification::onSubTaskCanceled(TaskSpecification* task)
{
    runningSubTasks.removeOne(task);
    if (onDemandAlive.contains(task))
        retire(task);
    else
        doneSubTasks.append(task);
    if (!subTaskCanceled) {
        // Only the first cancellation of a run is announced to the others.
        subTaskCanceled = true;
        if (task->state() == UserCanceled) {
            // The user's wish, not a failure: siblings still running stop the
            // way the user asked, so the run ends as the user's cancel and
            // not as an error.
            const QList<TaskSpecification*> running = runningSubTasks;
            for (TaskSpecification* sibling : running)
                sibling->userCanceled();
        } else {
            emit otherTaskCancelled(task);
        }
    }
    if (runningSubTasks.isEmpty() && !doneReported) {
        doneReported = true;
        subtasksDone();
    }
}

void ComposedTaskSpecification::onUpdateProgress(TaskSpecification* subTask)
{
    setProgress(accountProgress(subTask));
}

double ComposedTaskSpecification::accountProgress(TaskSpecification* subTask)
{
    double& counted = countedProgress[subTask];
    progressSum += static_cast<long double>(subTask->progress()) - counted;
    counted = subTask->progress();
    return static_cast<double>(progressSum);
}

TaskSpecification::TaskState ComposedTaskSpecification::getStateFromSubTasks() const
{
    if (retired.errorCanceled > 0)
        return ErrorCanceled;
    bool allFinished = onDemandMade >= onDemandCount;
    bool anyUserCanceled = retired.userCanceled > 0;
    if (anyUserCanceled)
        allFinished = false;
    for (const TaskSpecification* subTask : allSubTasks) {
        switch (subTask->state()) {
        case ErrorCanceled:
            return ErrorCanceled;
        case UserCanceled:
            anyUserCanceled = true;
            allFinished = false;
            break;
        case Finished:
            break;
        default:
            allFinished = false;
            break;
        }
    }
    if (anyUserCanceled)
        return UserCanceled;
    if (allFinished)
        return Finished;
    if (cancelRequested())
        return UserCanceled;
    if (subTaskCanceled)
        return ErrorCanceled;
    return Running;
}

void ComposedTaskSpecification::subtasksDone()
{
    endWith(getStateFromSubTasks());
}

void ComposedTaskSpecification::endWith(TaskState outcome)
{
    switch (outcome) {
    case Finished:
        finish();
        break;
    case UserCanceled:
        userCancel();
        break;
    default:
        // ErrorCanceled, or Running when some subtasks never ran.
        errorCancel();
        break;
    }
}

void ComposedTaskSpecification::userCanceled()
{
    TaskSpecification::userCanceled();
    if (state() != Running)
        return;
    // Iterate over a copy: a subtask that cancels changes the lists under us.
    const QList<TaskSpecification*> subTasks = allSubTasks;
    for (TaskSpecification* subTask : subTasks)
        subTask->userCanceled();
}

void ComposedTaskSpecification::handleOtherTaskCancelled(TaskSpecification* other)
{
    emit otherTaskCancelled(other);
}

TransferFigures ComposedTaskSpecification::timeTick()
{
    // Ended downloads keep counting, so the totals never shrink.
    TransferFigures figures;
    for (TaskSpecification* subTask : std::as_const(allSubTasks))
        figures += subTask->timeTick();
    figures += retired.figures;
    retired.figures.speed = 0;
    return figures;
}

void ComposedTaskSpecification::clearSubTasks()
{
    for (TaskSpecification* subTask : std::as_const(allSubTasks)) {
        QObject::disconnect(subTask, nullptr, this, nullptr);
        // Deferred: a subtask may be cleared from inside its own signal.
        subTask->deleteLater();
    }
    allSubTasks.clear();
    pendingSubTasks.clear();
    runningSubTasks.clear();
    doneSubTasks.clear();
    countedProgress.clear();
    progressSum = 0.0L;
    onDemandCount = 0;
    onDemandMade = 0;
    onDemandAlive.clear();
    retired = Retired();
}

void ComposedTaskSpecification::reset()
{
    for (TaskSpecification* subTask : std::as_const(allSubTasks))
        subTask->reset();
    pendingSubTasks = allSubTasks;
    runningSubTasks.clear();
    doneSubTasks.clear();
    subTaskCanceled = false;
    doneReported = false;
    TaskSpecification::reset();
}
