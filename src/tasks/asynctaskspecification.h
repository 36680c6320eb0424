// Tasks whose work runs on the application-wide thread pool. The task object
// stays on the GUI thread; a function object holding copies of its inputs
// runs once on a worker and reports back through queued signals only.
#pragma once

#include "taskspecification.h"

#include <memory>

#include <QRunnable>

class ASyncRunState;

/// The work of one asynchronous task. Created without a parent on the GUI
/// thread, used once, deleted on the worker right after run() returns, so the
/// GUI side must never touch it after handing it over.
class ASyncFunc : public QObject {
    Q_OBJECT

public:
    ASyncFunc();

    /// The work itself, on a worker thread: true for success. It may emit
    /// progress (0..1), message and error before it returns.
    virtual bool run() = 0;
    /// Runs run() and emits runResult with its result.
    void execute();
    /// True once the task has given this run up (reset or deleted); its
    /// result will be dropped, so a long run may stop early. Any thread.
    bool abandoned() const;

signals:
    void runResult(bool res);
    void message(QString message);
    void error(QString errorMessage);
    void progress(qreal progress);

private:
    friend class ASyncRun;
    friend class ASyncTaskSpecification;
    // Shared with the task that started the run; null for a function
    // started by hand.
    std::shared_ptr<ASyncRunState> runState;
};

/// Carries one ASyncFunc through the thread pool and owns it. A function
/// whose run was abandoned before it began is deleted without running.
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
    /// Abandons a run still under way; see waitsForAbandonedRun().
    ~ASyncTaskSpecification() override;

    void execute() override;
    /// Abandons the run under way, if any: a run not yet begun never begins,
    /// and the result and progress of one at work are dropped, also after the
    /// next execute(). Returns at once unless waitsForAbandonedRun().
    void reset() override;

protected:
    // A new function object loaded with copies of this run's inputs.
    virtual ASyncFunc* createFunction() = 0;
    virtual void connectDefaultSignals(ASyncFunc* func);
    // Ends the task from the result of its current run.
    virtual void runDone(bool res);
    // The result of a run abandoned while at work, for a task that must
    // learn what it did (a file it put in place); by default nothing.
    virtual void abandonedRunDone(bool res);
    // True for a function that writes files: reset() and the destructor
    // then also wait until a run at work has stopped, so its late writes
    // cannot meet those of the next run, and reset() delivers what it
    // reported before returning. Only this task's run is waited for.
    virtual bool waitsForAbandonedRun() const { return false; }

private:
    void abandonRun();
    void onRunResult(const std::shared_ptr<ASyncRunState>& run, bool res);

    std::shared_ptr<ASyncRunState> currentRun;
};
