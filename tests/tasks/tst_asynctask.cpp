// Thread-pool tasks: ordering of the queued reports, results, reset and cancel.
#include "tasks/asynctaskspecification.h"

#include <QDeadlineTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <vector>

namespace {

// Shared between the test and the worker; outlives both.
struct Script {
    QList<qreal> progressSteps;
    QString line;
    bool result = true;
    QSemaphore gate {0};
    bool waitAtGate = false;
    // Leaves the gate once its run is given up, as a copy stops.
    bool stopWhenAbandoned = false;
    std::atomic<bool> began {false};
    // The function left the gate because its run was given up.
    std::atomic<bool> sawAbandoned {false};
    // The function object is gone; its result has been posted.
    std::atomic<bool> destroyed {false};
};

class ScriptedFunc final : public ASyncFunc {
    Q_OBJECT
public:
    explicit ScriptedFunc(std::shared_ptr<Script> script)
        : script(std::move(script))
    {
    }
    ~ScriptedFunc() override { script->destroyed = true; }

    bool run() override
    {
        script->began = true;
        if (script->waitAtGate) {
            QDeadlineTimer bound(10000);
            while (!script->gate.tryAcquire(1, 10) && !bound.hasExpired()) {
                if (script->stopWhenAbandoned && abandoned()) {
                    script->sawAbandoned = true;
                    break;
                }
            }
        }
        for (qreal p : script->progressSteps)
            emit progress(p);
        if (!script->line.isEmpty())
            emit message(script->line);
        return script->result;
    }

private:
    std::shared_ptr<Script> script;
};

class ScriptedTask final : public ASyncTaskSpecification {
    Q_OBJECT
public:
    ScriptedTask(std::shared_ptr<Script> script, double weight, bool writesFiles = false)
        : ASyncTaskSpecification(nullptr, weight)
        , script(std::move(script))
        , writesFiles(writesFiles)
    {
    }

    // The script of the next run.
    void setScript(std::shared_ptr<Script> next) { script = std::move(next); }

protected:
    ASyncFunc* createFunction() override { return new ScriptedFunc(script); }
    bool waitsForAbandonedRun() const override { return writesFiles; }

private:
    std::shared_ptr<Script> script;
    bool writesFiles;
};

std::shared_ptr<Script> gated(bool result = true)
{
    auto script = std::make_shared<Script>();
    script->waitAtGate = true;
    script->result = result;
    return script;
}

} // namespace

class TestASyncTask : public QObject {
    Q_OBJECT

private slots:
    void reportsArriveBeforeTheResult_data()
    {
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("endState");
        QTest::newRow("true finishes") << true << int(TaskSpecification::Finished);
        QTest::newRow("false ends in error") << false << int(TaskSpecification::ErrorCanceled);
    }

    void reportsArriveBeforeTheResult()
    {
        QFETCH(bool, result);
        QFETCH(int, endState);
        auto script = std::make_shared<Script>();
        script->progressSteps = {0.5, 1.0};
        script->line = QStringLiteral("working");
        script->result = result;
        ScriptedTask task(script, 0.4);

        QStringList order;
        connect(&task, &TaskSpecification::updateProgress, this,
            [&](qreal v) { order << QStringLiteral("progress %1").arg(v); });
        connect(&task, &TaskSpecification::message, this, [&](const QString& m) { order << m; });
        connect(&task, &TaskSpecification::finished, this, [&] { order << QStringLiteral("finished"); });
        connect(&task, &TaskSpecification::canceled, this, [&] { order << QStringLiteral("canceled"); });

        task.execute();
        QCOMPARE(task.state(), int(TaskSpecification::Running));
        QTRY_COMPARE_WITH_TIMEOUT(task.state(), endState, 5000);

        QStringList expected {
            QStringLiteral("progress 0.2"), QStringLiteral("progress 0.4"), QStringLiteral("working")};
        expected << (result ? QStringList {QStringLiteral("progress 0.4"), QStringLiteral("finished")}
                            : QStringList {QStringLiteral("canceled")});
        QCOMPARE(order, expected);
    }

    void resetAbandonsTheRun_data()
    {
        QTest::addColumn<bool>("writesFiles");
        QTest::addColumn<bool>("queued");
        QTest::newRow("reading: reset returns at once") << false << false;
        QTest::newRow("writing files: reset waits for the function to stop") << true << false;
        QTest::newRow("queued behind a full pool: it never runs") << true << true;
    }

    // Only the task's own run is ever waited for, never the rest of the pool.
    void resetAbandonsTheRun()
    {
        QFETCH(bool, writesFiles);
        QFETCH(bool, queued);
        // Tasks holding every thread of the pool, so that ours waits in line.
        std::vector<std::pair<std::shared_ptr<Script>, std::unique_ptr<ScriptedTask>>> blockers;
        for (int i = 0; queued && i < QThreadPool::globalInstance()->maxThreadCount(); ++i) {
            blockers.emplace_back(gated(), nullptr);
            blockers.back().second = std::make_unique<ScriptedTask>(blockers.back().first, 1.0);
            blockers.back().second->execute();
            QTRY_VERIFY_WITH_TIMEOUT(blockers.back().first->began, 5000);
        }
        auto script = gated();
        script->progressSteps = {0.5};
        script->stopWhenAbandoned = writesFiles;
        ScriptedTask task(script, 1.0, writesFiles);
        QSignalSpy ended(&task, &TaskSpecification::finished);
        QSignalSpy progress(&task, &TaskSpecification::updateProgress);
        task.execute();
        QTRY_VERIFY_WITH_TIMEOUT(queued || script->began, 5000);

        task.reset();
        // Stopped and gone, never begun, or still at work.
        QCOMPARE(script->began.load(), !queued);
        QCOMPARE(script->sawAbandoned.load(), writesFiles && !queued);
        QCOMPARE(script->destroyed.load(), writesFiles && !queued);
        script->gate.release();
        for (const auto& blocker : blockers)
            blocker.first->gate.release();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(script->began.load(), !queued);
        QCOMPARE(task.state(), int(TaskSpecification::NotStarted));
        QCOMPARE(ended.size(), 0);
        // Only the reset's own zero.
        QCOMPARE(progress.size(), 1);
    }

    // A result still on its way when the task is reset and started again
    // must not end the new run.
    void aLateResultDoesNotEndTheNextRun()
    {
        auto first = gated(false);
        first->progressSteps = {0.9};
        auto second = gated(true);
        ScriptedTask task(first, 1.0);
        QSignalSpy finished(&task, &TaskSpecification::finished);
        QSignalSpy canceled(&task, &TaskSpecification::canceled);
        task.execute();
        QTRY_VERIFY_WITH_TIMEOUT(first->began, 5000);
        task.reset();
        task.setScript(second);
        task.execute();

        first->gate.release();
        QTRY_VERIFY_WITH_TIMEOUT(first->destroyed, 5000);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(task.state(), int(TaskSpecification::Running));
        QCOMPARE(task.progress(), 0.0);

        second->gate.release();
        QVERIFY(finished.wait(5000));
        QCOMPARE(task.state(), int(TaskSpecification::Finished));
        QCOMPARE(canceled.size(), 0);
    }

    void userCancelDoesNotStopTheFunction()
    {
        auto script = std::make_shared<Script>();
        script->waitAtGate = true;
        ScriptedTask task(script, 1.0);
        QSignalSpy finished(&task, &TaskSpecification::finished);
        task.execute();
        task.userCanceled();
        QVERIFY(task.cancelRequested());
        script->gate.release();
        QVERIFY(finished.wait(5000));
        QCOMPARE(task.state(), int(TaskSpecification::Finished));
    }

    void manyTasksAtOnce()
    {
        std::vector<std::unique_ptr<ScriptedTask>> tasks;
        std::vector<std::shared_ptr<Script>> scripts;
        for (int i = 0; i < 32; ++i) {
            scripts.push_back(std::make_shared<Script>());
            scripts.back()->result = (i % 3 != 0);
            tasks.push_back(std::make_unique<ScriptedTask>(scripts.back(), 1.0));
            tasks.back()->execute();
        }
        for (int i = 0; i < 32; ++i) {
            const int expected =
                (i % 3 != 0) ? TaskSpecification::Finished : TaskSpecification::ErrorCanceled;
            QTRY_COMPARE_WITH_TIMEOUT(tasks[i]->state(), expected, 5000);
        }
    }
};

QTEST_GUILESS_MAIN(TestASyncTask)
#include "tst_asynctask.moc"
