// The base of every unit of work in an update session.
#include "taskspecification.h"

TaskSpecification::TaskSpecification(QObject* parent, double parentProgressRange)
    : QObject(parent)
    , parentProgressRange(parentProgressRange)
{
}

void TaskSpecification::setProgress(double fraction)
{
    progress = fraction * parentProgressRange;
    emit updateProgress(progress);
}

void TaskSpecification::setParentProgressRange(double range)
{
    parentProgressRange = range;
}

void TaskSpecification::reset()
{
    cancelRequested = false;
    state = NotStarted;
    setProgress(0.0);
}

void TaskSpecification::timeTick(
    quint64& downloadDone, quint64& downloadTotal, quint64& speed, bool& downloading)
{
    downloadDone = 0;
    downloadTotal = 0;
    speed = 0;
    downloading = false;
}

void TaskSpecification::userCanceled()
{
    cancelRequested = true;
}

void TaskSpecification::handleOtherTaskCancelled(TaskSpecification*) { }

void TaskSpecification::onOtherTaskCancelled(TaskSpecification* other)
{
    if (other == this || state != Running)
        return;
    handleOtherTaskCancelled(other);
}

void TaskSpecification::finish()
{
    // The state is set first so that receivers of the signals see Finished.
    state = Finished;
    setProgress(1.0);
    emit finished(this);
}

void TaskSpecification::errorCancel()
{
    state = ErrorCanceled;
    emit canceled(this);
}

void TaskSpecification::userCancel()
{
    state = UserCanceled;
    emit canceled(this);
}
