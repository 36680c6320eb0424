// The base of every unit of work in an update session.
#include "taskspecification.h"

TaskSpecification::TaskSpecification(QObject* parent, double parentProgressRange)
    : QObject(parent)
    , m_parentProgressRange(parentProgressRange)
{
}

void TaskSpecification::setProgress(double fraction)
{
    m_progress = fraction * m_parentProgressRange;
    emit updateProgress(m_progress);
}

void TaskSpecification::setParentProgressRange(double range)
{
    m_parentProgressRange = range;
}

void TaskSpecification::reset()
{
    m_cancelRequested = false;
    m_state = NotStarted;
    setProgress(0.0);
}

TransferFigures TaskSpecification::timeTick()
{
    return {};
}

void TaskSpecification::userCanceled()
{
    m_cancelRequested = true;
}

void TaskSpecification::handleOtherTaskCancelled(TaskSpecification*) { }

void TaskSpecification::onOtherTaskCancelled(TaskSpecification* other)
{
    if (other == this || m_state != Running)
        return;
    handleOtherTaskCancelled(other);
}

void TaskSpecification::finish()
{
    // The state is set first so that receivers of the signals see Finished.
    m_state = Finished;
    setProgress(1.0);
    emit finished(this);
}

void TaskSpecification::errorCancel()
{
    m_state = ErrorCanceled;
    emit canceled(this);
}

void TaskSpecification::userCancel()
{
    m_state = UserCanceled;
    emit canceled(this);
}
