// Tasks whose work runs on the application-wide thread pool.
#include "asynctaskspecification.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <QCoreApplication>
#include <QThreadPool>

// What a task and the worker share about one run: whether the task has given
// it up, and whether the worker is still at it.
class ASyncRunState final {
public:
    explicit ASyncRunState(bool waitOnAbandon)
        : waitOnAbandon(waitOnAbandon)
    {
    }

    // Worker: false, for good, when the run was abandoned before it began.
    bool begin()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        working = !abandoned;
        return working;
    }
    // Worker: the function has returned and is gone.
    void end()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        working = false;
        ended.notify_all();
    }
    // Task: gives the run up; with waitOnAbandon also waits until a worker
    // at it has stopped. Never waits for a run that has not begun: that one
    // cannot begin any more.
    void abandon()
    {
        std::unique_lock<std::mutex> lock(mutex);
        abandoned = true;
        if (waitOnAbandon)
            ended.wait(lock, [this] { return !working; });
    }
    bool isAbandoned() const { return abandoned; }

    const bool waitOnAbandon;

private:
    std::mutex mutex;
    std::condition_variable ended;
    std::atomic<bool> abandoned {false};
    bool working = false;
};

ASyncFunc::ASyncFunc()
    : QObject(nullptr)
{
}

void ASyncFunc::execute()
{
    emit runResult(run());
}

bool ASyncFunc::abandoned() const
{
    return runState && runState->isAbandoned();
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
    const std::shared_ptr<ASyncRunState> control = func->runState;
    if (control && !control->begin())
        return;
    func->execute();
    // Whoever waits for the run may go on once the function holds nothing.
    delete func;
    func = nullptr;
    if (control)
        control->end();
}

ASyncTaskSpecification::ASyncTaskSpecification(QObject* parent, double parentProgressRange)
    : TaskSpecification(parent, parentProgressRange)
{
}

ASyncTaskSpecification::~ASyncTaskSpecification()
{
    abandonRun();
}

void ASyncTaskSpecification::execute()
{
    abandonRun();
    ASyncFunc* func = createFunction();
    currentRun = std::make_shared<ASyncRunState>(waitsForAbandonedRun());
    func->runState = currentRun;
    connectDefaultSignals(func);
    QThreadPool::globalInstance()->start(new ASyncRun(func), 0);
    // Safe after the hand-over: the result can only arrive through this
    // thread's event loop.
    setRunning();
}

void ASyncTaskSpecification::connectDefaultSignals(ASyncFunc* func)
{
    // Each report names its run, so that one of an abandoned run cannot pass
    // for the next run's: reset() and execute() may follow each other before
    // the old run's reports have arrived.
    const std::shared_ptr<ASyncRunState> run = func->runState;
    connect(
        func, &ASyncFunc::runResult, this, [this, run](bool res) { onRunResult(run, res); },
        Qt::QueuedConnection);
    connect(func, &ASyncFunc::message, this, &TaskSpecification::message, Qt::QueuedConnection);
    connect(func, &ASyncFunc::error, this, &TaskSpecification::error, Qt::QueuedConnection);
    connect(
        func, &ASyncFunc::progress, this,
        [this, run](qreal progress) {
            if (run == currentRun)
                setProgress(progress);
        },
        Qt::QueuedConnection);
}

void ASyncTaskSpecification::onRunResult(const std::shared_ptr<ASyncRunState>& run, bool res)
{
    if (run == currentRun)
        runDone(res);
    else
        abandonedRunDone(res);
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

void ASyncTaskSpecification::abandonedRunDone(bool) { }

void ASyncTaskSpecification::abandonRun()
{
    if (!currentRun)
        return;
    const std::shared_ptr<ASyncRunState> run = std::move(currentRun);
    run->abandon();
}

void ASyncTaskSpecification::reset()
{
    const bool waited = currentRun && currentRun->waitOnAbandon;
    abandonRun();
    // What the stopped run reported is queued; whoever resets us (to roll
    // back, say) must know what it did before going on.
    if (waited)
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    TaskSpecification::reset();
}
