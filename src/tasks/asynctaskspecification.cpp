// Tasks whose work runs on the application-wide thread pool.
#include "asynctaskspecification.h"

#include <QThreadPool>

ASyncFunc::ASyncFunc()
    : QObject(nullptr)
{
}

void ASyncFunc::execute()
{
    emit runResult(run());
}

ASyncRun::ASyncRun(ASyncFunc* func)
    : func(func)
{
}

ASyncRun::~ASyncRun()
{
    // The function's queued signals were posted before this point and reach
    // the task later, in order; nothing refers to the function any more.
    delete func;
}

void ASyncRun::run()
{
    func->execute();
}

ASyncTaskSpecification::ASyncTaskSpecification(QObject* parent, double parentProgressRange)
    : TaskSpecification(parent, parentProgressRange)
{
}

void ASyncTaskSpecification::execute()
{
    ASyncFunc* func = createFunction();
    connectDefaultSignals(func);
    QThreadPool::globalInstance()->start(new ASyncRun(func), 0);
    // Safe after the hand-over: the result can only arrive through this
    // thread's event loop.
    setRunning();
}

void ASyncTaskSpecification::connectDefaultSignals(ASyncFunc* func)
{
    connect(func, &ASyncFunc::runResult, this, &ASyncTaskSpecification::onRunResult, Qt::QueuedConnection);
    connect(func, &ASyncFunc::message, this, &TaskSpecification::message, Qt::QueuedConnection);
    connect(func, &ASyncFunc::error, this, &TaskSpecification::error, Qt::QueuedConnection);
    connect(func, &ASyncFunc::progress, this, &ASyncTaskSpecification::onProgress, Qt::QueuedConnection);
}

void ASyncTaskSpecification::onRunResult(bool res)
{
    runDone(res);
}

void ASyncTaskSpecification::onProgress(qreal progress)
{
    setProgress(progress);
}

void ASyncTaskSpecification::runDone(bool res)
{
    if (state() != Running)
        return;
    if (res)
        finish();
    else
        errorCancel();
}

void ASyncTaskSpecification::reset()
{
    QThreadPool::globalInstance()->waitForDone();
    TaskSpecification::reset();
}
