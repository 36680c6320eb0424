// The one way tests run tasks: watch what a task says, run it with a bound
// the way the engine does, and keep the evidence when the test has failed.
#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>

class TaskSpecification;

/*!
    Base of the fixtures that run tasks; one per test function or data row.
    log holds, in arrival order, the message and error lines of every task
    watched (errors prefixed with "error: ") and the lines a fixture adds with
    logLine(). dir is the test's temporary directory: when the test has
    failed, the destructor keeps it and prints the log.
*/
class TaskHarness : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(TaskHarness)

public:
    TaskHarness();
    ~TaskHarness() override;

    // Collects the task's lines, progress reports and endings; watching a
    // task again changes nothing.
    void watch(TaskSpecification* task);
    // Watches and executes the task and waits, at most timeoutMs, for it to
    // end, calling its timeTick every tickIntervalMs meanwhile (never if 0).
    // Returns the final state, -1 if it did not end in time, or -2 if it
    // ended more than once.
    int run(TaskSpecification* task, int timeoutMs = 30000);

    void logLine(const QString& line) { log.append(line); }
    // How many log lines equal line.
    int count(const QString& line) const { return int(log.count(line)); }
    // Whether some log line contains text.
    bool logged(const QString& text) const;

    // After a failed test: keeps dir and prints the log, once. The
    // destructor calls it.
    void keepEvidenceOfFailure();

    QTemporaryDir dir;
    QStringList log;
    int tickIntervalMs = 0;

    // What the watching saw: endings of all watched tasks, their progress
    // reports, and the figures of the last timeTick of run().
    int finishedCount = 0;
    int canceledCount = 0;
    QList<qreal> progressReports;
    quint64 lastDone = 0;
    quint64 lastTotal = 0;

private:
    QSet<const TaskSpecification*> watched;
    bool kept = false;
};
