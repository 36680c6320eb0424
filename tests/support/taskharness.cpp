// Watching, bounded running and evidence keeping for the task tests.
#include "taskharness.h"

#include <algorithm>

#include <QDirIterator>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include "tasks/taskspecification.h"

namespace {

// How long a run goes on delivering events after the task has ended: long
// enough for a second ending or a late result to show.
constexpr int lateEventsMs = 20;

// Delivers events until loop quits or timeoutMs have passed. Unlike
// QTest::qWaitFor it does not nap when the queue runs dry, which would add
// to every network round of a run.
void execFor(QEventLoop& loop, int timeoutMs)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    loop.exec();
}

} // namespace

TaskHarness::TaskHarness() = default;

TaskHarness::~TaskHarness()
{
    keepEvidenceOfFailure();
    if (kept)
        return;
    // A read-only directory left by a test must not keep the cleanup out.
    QDirIterator it(dir.path(), QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::setPermissions(it.next(), QFileDevice::Permissions(0x7700));
}

void TaskHarness::watch(TaskSpecification* task)
{
    if (watched.contains(task))
        return;
    watched.insert(task);
    connect(task, &QObject::destroyed, this, [this, task] { watched.remove(task); });
    connect(task, &TaskSpecification::message, this, &TaskHarness::logLine);
    connect(task, &TaskSpecification::error, this,
        [this](const QString& line) { log.append(QStringLiteral("error: ") + line); });
    connect(task, &TaskSpecification::updateProgress, this, [this](qreal p) { progressReports.append(p); });
    connect(task, &TaskSpecification::finished, this, [this] { ++finishedCount; });
    connect(task, &TaskSpecification::canceled, this, [this] { ++canceledCount; });
}

int TaskHarness::run(TaskSpecification* task, int timeoutMs)
{
    watch(task);
    QSignalSpy finished(task, &TaskSpecification::finished);
    QSignalSpy canceled(task, &TaskSpecification::canceled);
    const auto endings = [&] { return finished.count() + canceled.count(); };

    // The engine's tick, at the pace the fixture chose.
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, task, [this, task] {
        const TransferFigures figures = task->timeTick();
        lastDone = figures.done;
        lastTotal = figures.total;
    });
    if (tickIntervalMs > 0)
        ticker.start(tickIntervalMs);

    QEventLoop untilEnded;
    connect(task, &TaskSpecification::finished, &untilEnded, &QEventLoop::quit);
    connect(task, &TaskSpecification::canceled, &untilEnded, &QEventLoop::quit);
    task->execute();
    if (endings() == 0)
        execFor(untilEnded, timeoutMs);
    ticker.stop();
    if (endings() == 0)
        return -1;

    // Work a cancel does not interrupt (a check on the thread pool) reports
    // after the ending; let it, and whatever it queued, arrive.
    QThreadPool::globalInstance()->waitForDone(timeoutMs);
    QEventLoop lateEvents;
    execFor(lateEvents, lateEventsMs);
    return endings() == 1 ? task->state() : -2;
}

bool TaskHarness::logged(const QString& text) const
{
    return std::any_of(
        log.cbegin(), log.cend(), [&text](const QString& line) { return line.contains(text); });
}

void TaskHarness::keepEvidenceOfFailure()
{
    if (kept || !QTest::currentTestFailed())
        return;
    kept = true;
    dir.setAutoRemove(false);
    qWarning().noquote() << QStringLiteral("kept %1\nlog:\n%2").arg(dir.path(), log.join(QLatin1Char('\n')));
}
