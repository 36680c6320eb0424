// Thread-pool tasks: ordering of the queued reports, results, reset and cancel.
#include "tasks/asynctaskspecification.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

// Shared between the test and the worker; outlives both.
struct Script {
    QList<qreal> progressSteps;
    QString line;
    bool result = true;
    QSemaphore gate {0};
    bool waitAtGate = false;
    std::atomic<bool> completed {false};
};

class ScriptedFunc final : public ASyncFunc {
    Q_OBJECT
public:
    explicit ScriptedFunc(std::shared_ptr<Script> script)
        : script(std::move(script))
    {
    }

    bool run() override
    {
        if (script->waitAtGate)
            script->gate.tryAcquire(1, 10000);
        for (qreal p : script->progressSteps)
            emit progress(p);
        if (!script->line.isEmpty())
            emit message(script->line);
        script->completed = true;
        return script->result;
    }

private:
    std::shared_ptr<Script> script;
};

class ScriptedTask final : public ASyncTaskSpecification {
    Q_OBJECT
public:
    ScriptedTask(std::shared_ptr<Script> script, double weight)
        : ASyncTaskSpecification(nullptr, weight)
        , script(std::move(script))
    {
    }

protected:
    ASyncFunc* createFunction() override { return new ScriptedFunc(script); }

private:
    std::shared_ptr<Script> script;
};

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

    void resetWaitsForThePoolAndDropsTheLateResult()
    {
        auto script = std::make_shared<Script>();
        script->waitAtGate = true;
        ScriptedTask task(script, 1.0);
        QSignalSpy finished(&task, &TaskSpecification::finished);
        QSignalSpy canceled(&task, &TaskSpecification::canceled);
        task.execute();

        // Opens the gate a little later from another thread: reset() must
        // block until the function has returned.
        std::thread opener([script] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            script->gate.release();
        });
        task.reset();
        QVERIFY(script->completed);
        opener.join();

        // The result is still queued; delivering it now must change nothing.
        QTest::qWait(50);
        QCoreApplication::processEvents();
        QCOMPARE(task.state(), int(TaskSpecification::NotStarted));
        QCOMPARE(finished.size(), 0);
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
