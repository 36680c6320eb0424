// Tasks whose work runs on the application-wide thread pool. The task object
// stays on the GUI thread; a function object holding copies of its inputs
// runs once on a worker and reports back through queued signals only.
#pragma once

#include "taskspecification.h"

#include <QRunnable>

// The work of one asynchronous task. Created without a parent on the GUI
// thread, used once, deleted on the worker right after run() returns, so the
// GUI side must never touch it after handing it over.
class ASyncFunc : public QObject {
    Q_OBJECT

public:
    ASyncFunc();

    // The work itself, on a worker thread: true for success. It may emit
    // progress (0..1), message and error before it returns.
    virtual bool run() = 0;
    // Runs run() and emits runResult with its result.
    void execute();

signals:
    void runResult(bool res);
    void message(QString message);
    void error(QString errorMessage);
    void progress(qreal progress);
};

// Carries one ASyncFunc through the thread pool and owns it.
class ASyncRun final : public QRunnable {
public:
    explicit ASyncRun(ASyncFunc* func);
    ~ASyncRun() override;

    void run() override;

private:
    ASyncFunc* func;
};

class ASyncTaskSpecification : public TaskSpecification {
    Q_OBJECT

public:
    ASyncTaskSpecification(QObject* parent, double parentProgressRange);

    void execute() override;
    // Waits until every runnable of the global pool has ended (not only this
    // task's), so a stale result can no longer race with the next run.
    void reset() override;

protected:
    // A new function object loaded with copies of this run's inputs.
    virtual ASyncFunc* createFunction() = 0;
    virtual void connectDefaultSignals(ASyncFunc* func);
    // Ends the task from the function's result; a result that arrives when
    // the task no longer runs (after reset()) is dropped.
    virtual void runDone(bool res);

protected slots:
    void onRunResult(bool res);
    void onProgress(qreal progress);
};
