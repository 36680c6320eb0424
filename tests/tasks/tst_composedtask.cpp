// Scheduling, final state, cancel protocol, progress and transfer counters of
// the task base and the composed task.
#include "fakeleaf.h"
#include "testcomposite.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using State = TaskSpecification::TaskState;
Q_DECLARE_METATYPE(QList<int>)

class TestComposedTask : public QObject {
    Q_OBJECT

private:
    // Processes queued starts until nothing more is pending; bounded.
    static void drainEvents()
    {
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
    }

    // Runs the deferred deletions of released subtasks.
    static void releaseDeleted() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    static int executions(const QList<FakeLeaf*>& leaves)
    {
        int sum = 0;
        for (const FakeLeaf* leaf : leaves)
            sum += leaf->executions;
        return sum;
    }

private slots:
    void baseProgressIsWeighted()
    {
        FakeLeaf task(nullptr, 0.25);
        QSignalSpy progress(&task, &TaskSpecification::updateProgress);
        task.setProgress(0.5);
        QCOMPARE(progress.size(), 1);
        QCOMPARE(progress.at(0).at(0).toDouble(), 0.125);
        QCOMPARE(task.progress(), 0.125);
    }

    void finishReportsFullShareBeforeFinished()
    {
        FakeLeaf task(nullptr, 0.4);
        QStringList order;
        connect(&task, &TaskSpecification::updateProgress, this,
            [&](qreal value) { order << QStringLiteral("progress %1").arg(value); });
        connect(&task, &TaskSpecification::finished, this,
            [&](TaskSpecification* t) { order << QStringLiteral("finished state %1").arg(t->state()); });
        task.execute();
        task.end();
        QCOMPARE(order, (QStringList {QStringLiteral("progress 0.4"), QStringLiteral("finished state 2")}));
    }

    void errorCancelKeepsProgressAndResetClears()
    {
        FakeLeaf task(nullptr, 1.0);
        task.execute();
        task.setProgress(0.3);
        QSignalSpy canceled(&task, &TaskSpecification::canceled);
        task.fail();
        QCOMPARE(task.state(), int(TaskSpecification::ErrorCanceled));
        QCOMPARE(task.progress(), 0.3);
        QCOMPARE(canceled.size(), 1);

        task.userCanceled();
        QSignalSpy progress(&task, &TaskSpecification::updateProgress);
        task.reset();
        QCOMPARE(task.state(), int(TaskSpecification::NotStarted));
        QVERIFY(!task.cancelRequested());
        QCOMPARE(progress.size(), 1);
        QCOMPARE(progress.at(0).at(0).toDouble(), 0.0);
    }

    void otherTaskNoticeIgnoredForSelfAndIdleTasks()
    {
        TestComposite parent(2);
        auto* a = new FakeLeaf(&parent, 0.5, true);
        auto* b = new FakeLeaf(&parent, 0.5, true);
        parent.addSubTask(a);
        parent.addSubTask(b);
        // b has not started: the notice about a must not reach it.
        emit parent.otherTaskCancelled(a);
        QCOMPARE(a->noticesReceived, 0);
        QCOMPARE(b->noticesReceived, 0);
        a->execute();
        emit parent.otherTaskCancelled(a);
        QCOMPARE(a->noticesReceived, 0);
    }

    void baseTimeTickReportsNothing()
    {
        struct PlainTask final : TaskSpecification {
            PlainTask()
                : TaskSpecification(nullptr, 1.0)
            {
            }
            void execute() override { setRunning(); }
        } task;
        task.execute();
        const TransferFigures figures = task.timeTick();
        QCOMPARE(figures.done, 0u);
        QCOMPARE(figures.total, 0u);
        QCOMPARE(figures.speed, 0u);
        QVERIFY(!figures.active);
    }

    void stateFromSubTasks_data()
    {
        QTest::addColumn<QList<int>>("states");
        QTest::addColumn<bool>("cancelRequested");
        QTest::addColumn<bool>("subTaskCanceled");
        QTest::addColumn<int>("expected");

        QTest::newRow("empty list is finished") << QList<int> {} << false << false << int(State::Finished);
        QTest::newRow("all finished") << QList<int> {2, 2, 2} << false << false << int(State::Finished);
        QTest::newRow("all finished wins over a late cancel request")
            << QList<int> {2, 2} << true << false << int(State::Finished);
        QTest::newRow("error before user cancel")
            << QList<int> {4, 3, 2} << false << false << int(State::ErrorCanceled);
        QTest::newRow("user cancel before success")
            << QList<int> {2, 4, 2} << false << false << int(State::UserCanceled);
        QTest::newRow("user cancel wins over a sibling's error flag")
            << QList<int> {4, 0} << false << true << int(State::UserCanceled);
        QTest::newRow("not started with cancel request is a user cancel")
            << QList<int> {2, 0} << true << false << int(State::UserCanceled);
        QTest::newRow("not started after a subtask cancel is an error")
            << QList<int> {2, 0} << false << true << int(State::ErrorCanceled);
        QTest::newRow("never started at all stays running")
            << QList<int> {0, 0} << false << false << int(State::Running);
    }

    void stateFromSubTasks()
    {
        QFETCH(QList<int>, states);
        QFETCH(bool, cancelRequested);
        QFETCH(bool, subTaskCanceled);
        QFETCH(int, expected);

        TestComposite composite(1);
        for (int s : states) {
            // Brought to its state before it is added, so the composite does
            // not react to the ending.
            auto* leaf = new FakeLeaf(&composite, 1.0 / states.size());
            if (s != State::NotStarted)
                leaf->execute();
            if (s == State::Finished)
                leaf->end();
            else if (s == State::ErrorCanceled)
                leaf->fail();
            else if (s == State::UserCanceled)
                leaf->abort();
            QCOMPARE(int(leaf->state()), s);
            composite.addSubTask(leaf);
        }
        // Not running: the request only sets the flag.
        if (cancelRequested)
            composite.userCanceled();
        if (subTaskCanceled)
            composite.markSubTaskCanceled();
        QCOMPARE(int(composite.getStateFromSubTasks()), expected);
    }

    void emptyCompositeFinishesInTheSameCall()
    {
        TestComposite composite(3, 0.3);
        QSignalSpy finished(&composite, &TaskSpecification::finished);
        composite.execute();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(composite.progress(), 0.3);
    }

    void zeroParallelEndsWithErrorAtOnce()
    {
        TestComposite composite(0);
        auto* leaf = new FakeLeaf(&composite, 1.0);
        composite.addSubTask(leaf);
        QSignalSpy canceled(&composite, &TaskSpecification::canceled);
        composite.execute();
        QCOMPARE(canceled.size(), 1);
        QCOMPARE(composite.state(), int(State::ErrorCanceled));
        QCOMPARE(leaf->executions, 0);
    }

    void schedulingRespectsMaxParallel()
    {
        TestComposite composite(2);
        QList<FakeLeaf*> leaves;
        for (int i = 0; i < 5; ++i) {
            leaves << new FakeLeaf(&composite, 0.2);
            composite.addSubTask(leaves.last());
        }
        QSignalSpy finished(&composite, &TaskSpecification::finished);

        composite.execute();
        // Starts are queued: nothing runs inside execute() itself.
        QCOMPARE(executions(leaves), 0);
        drainEvents();
        QCOMPARE(executions(leaves), 2);

        for (int i = 0; i < 5; ++i) {
            leaves[i]->end();
            // The next start never happens inside the finishing call.
            QCOMPARE(executions(leaves), qMin(5, i + 2));
            drainEvents();
            QCOMPARE(executions(leaves), qMin(5, i + 3));
        }
        QCOMPARE(composite.subtasksDoneCalls, 1);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(composite.state(), int(State::Finished));
        for (const FakeLeaf* leaf : leaves)
            QCOMPARE(leaf->executions, 1);
    }

    void userCancelWithOneTransferRunning()
    {
        TestComposite root(1);
        auto* stage = new TestComposite(1, 1.0, &root);
        root.addSubTask(stage);
        auto* running = new FakeLeaf(stage, 0.5, true);
        auto* waiting = new FakeLeaf(stage, 0.5, true);
        stage->addSubTask(running);
        stage->addSubTask(waiting);
        QSignalSpy rootCanceled(&root, &TaskSpecification::canceled);

        root.execute();
        drainEvents();
        QCOMPARE(running->state(), int(State::Running));

        root.userCanceled();
        drainEvents();
        QCOMPARE(running->state(), int(State::UserCanceled));
        QCOMPARE(waiting->state(), int(State::NotStarted));
        QCOMPARE(stage->state(), int(State::UserCanceled));
        QCOMPARE(root.state(), int(State::UserCanceled));
        QCOMPARE(rootCanceled.size(), 1);
    }

    void userCancelWithSeveralTransfersRunning()
    {
        TestComposite root(1);
        auto* list = new TestComposite(3, 1.0, &root);
        root.addSubTask(list);
        QList<FakeLeaf*> transfers;
        for (int i = 0; i < 4; ++i) {
            transfers << new FakeLeaf(list, 0.25, true);
            list->addSubTask(transfers.last());
        }
        QSignalSpy rootCanceled(&root, &TaskSpecification::canceled);
        root.execute();
        drainEvents();

        root.userCanceled();
        drainEvents();
        // The first running transfer reached takes the user cancel and its
        // siblings stop the same way: the user's cancel is never an error.
        QCOMPARE(transfers[0]->state(), int(State::UserCanceled));
        QCOMPARE(transfers[1]->state(), int(State::UserCanceled));
        QCOMPARE(transfers[2]->state(), int(State::UserCanceled));
        QCOMPARE(transfers[1]->noticesReceived + transfers[2]->noticesReceived, 0);
        QCOMPARE(transfers[3]->state(), int(State::NotStarted));
        QCOMPARE(transfers[3]->executions, 0);
        QCOMPARE(list->state(), int(State::UserCanceled));
        QCOMPARE(root.state(), int(State::UserCanceled));
        QCOMPARE(rootCanceled.size(), 1);
    }

    void errorStopsRunningSiblings()
    {
        TestComposite list(3);
        auto* failing = new FakeLeaf(&list, 0.25);
        auto* transfer = new FakeLeaf(&list, 0.25, true);
        auto* fileOp = new FakeLeaf(&list, 0.25);
        auto* pending = new FakeLeaf(&list, 0.25);
        for (FakeLeaf* leaf : {failing, transfer, fileOp, pending})
            list.addSubTask(leaf);
        QSignalSpy canceled(&list, &TaskSpecification::canceled);
        list.execute();
        drainEvents();

        failing->fail();
        QCOMPARE(transfer->state(), int(State::ErrorCanceled));
        QCOMPARE(fileOp->noticesReceived, 1);
        // A file operation is never interrupted: the composite waits for it.
        QCOMPARE(canceled.size(), 0);
        fileOp->end();
        drainEvents();
        QCOMPARE(canceled.size(), 1);
        QCOMPARE(list.state(), int(State::ErrorCanceled));
        QCOMPARE(pending->executions, 0);
        QCOMPARE(list.subtasksDoneCalls, 1);
    }

    void userCancelWaitsForUninterruptibleLeaf_data()
    {
        QTest::addColumn<int>("subtasks");
        QTest::addColumn<int>("expected");
        QTest::newRow("more work pending ends as user cancel") << 2 << int(State::UserCanceled);
        QTest::newRow("last subtask done ends as finished") << 1 << int(State::Finished);
    }

    void userCancelWaitsForUninterruptibleLeaf()
    {
        QFETCH(int, subtasks);
        QFETCH(int, expected);
        TestComposite composite(1);
        QList<FakeLeaf*> leaves;
        for (int i = 0; i < subtasks; ++i) {
            leaves << new FakeLeaf(&composite, 1.0 / subtasks);
            composite.addSubTask(leaves.last());
        }
        composite.execute();
        drainEvents();
        composite.userCanceled();
        QCOMPARE(leaves[0]->state(), int(State::Running));
        leaves[0]->end();
        drainEvents();
        QCOMPARE(composite.state(), expected);
        QCOMPARE(executions(leaves), 1);
    }

    void progressFollowsWeights()
    {
        TestComposite root(1, 0.5);
        const QList<double> weights {0.1, 0.05, 0.4, 0.4, 0.05};
        QList<FakeLeaf*> stages;
        for (double w : weights) {
            stages << new FakeLeaf(&root, w);
            root.addSubTask(stages.last());
        }
        QSignalSpy progress(&root, &TaskSpecification::updateProgress);
        root.execute();
        drainEvents();
        stages[0]->end();
        drainEvents();
        stages[1]->end();
        drainEvents();
        QVERIFY(qFuzzyCompare(root.progress(), 0.15 * 0.5));
        stages[2]->setProgress(0.5);
        QVERIFY(qFuzzyCompare(progress.last().at(0).toDouble(), (0.15 + 0.2) * 0.5));
        for (int i = 2; i < stages.size(); ++i) {
            stages[i]->end();
            drainEvents();
        }
        QVERIFY(qFuzzyCompare(root.progress(), 0.5));
    }

    void progressMatchesFreshSum()
    {
        // Many reports, resets and re-additions: the running sum must agree
        // with summing the subtasks' fields afresh.
        TestComposite root(1);
        QList<FakeLeaf*> leaves;
        for (int i = 0; i < 200; ++i) {
            leaves << new FakeLeaf(&root, 1.0 / 200);
            root.addSubTask(leaves.last());
        }
        QRandomGenerator random(42);
        for (int step = 0; step < 20000; ++step) {
            FakeLeaf* leaf = leaves[random.bounded(int(leaves.size()))];
            if (step % 997 == 0)
                leaf->reset();
            else
                leaf->setProgress(random.generateDouble());
        }
        double fresh = 0;
        for (const FakeLeaf* leaf : leaves)
            fresh += leaf->progress();
        QVERIFY(qAbs(root.progress() - fresh) <= 1e-9 * qMax(1.0, fresh));

        root.clearSubTasks();
        auto* again = new FakeLeaf(&root, 1.0);
        root.addSubTask(again);
        again->setProgress(0.25);
        QCOMPARE(root.progress(), 0.25);
    }

    void timeTickAddsUpTransfers()
    {
        TestComposite composite(3);
        auto* finished = new FakeLeaf(&composite, 0.3);
        finished->tickDone = 100;
        finished->tickTotal = 100;
        auto* running = new FakeLeaf(&composite, 0.3);
        running->tickDone = 30;
        running->tickTotal = 200;
        running->tickSpeed = 30;
        running->tickDownloading = true;
        auto* unknownSize = new FakeLeaf(&composite, 0.4);
        unknownSize->tickDone = 999;
        unknownSize->tickSpeed = 12;
        for (FakeLeaf* leaf : {finished, running, unknownSize})
            composite.addSubTask(leaf);

        TransferFigures figures = composite.timeTick();
        QCOMPARE(figures.done, 130u);
        QCOMPARE(figures.total, 300u);
        QCOMPARE(figures.speed, 42u);
        QVERIFY(figures.active);

        running->tickDownloading = false;
        figures = composite.timeTick();
        QVERIFY(!figures.active);
    }

    void onDemandSubtasksLiveOnlyWhileTheyRun()
    {
        OnDemandComposite composite(2, 5, false);
        QSignalSpy finished(&composite, &TaskSpecification::finished);
        composite.execute();
        drainEvents();
        QCOMPARE(composite.made.size(), 2);

        for (int i = 0; i < 5; ++i) {
            FakeLeaf* leaf = composite.alive().first();
            leaf->setProgress(0.5);
            QVERIFY(qAbs(composite.progress() - (i + 0.5) / 5) < 1e-12);
            leaf->end();
            drainEvents();
            releaseDeleted();
            // An ended subtask is gone, its share stays; the next one exists.
            QVERIFY(qAbs(composite.progress() - (i + 1) / 5.0) < 1e-12);
            QCOMPARE(composite.made.size(), qMin(5, i + 3));
            QCOMPARE(composite.alive().size(), qMin(2, 4 - i));
        }
        QCOMPARE(finished.size(), 1);
        QCOMPARE(composite.state(), int(State::Finished));
        QCOMPARE(composite.progress(), 1.0);
    }

    void onDemandSubtasksEndLikeAddedOnes_data()
    {
        QTest::addColumn<bool>("transfers");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("expectedState");
        QTest::addColumn<int>("expectedMade");

        QTest::newRow("a failure makes no further subtask")
            << false << "fail" << int(State::ErrorCanceled) << 2;
        // The running transfers all stop as the user asked: no error.
        QTest::newRow("a user cancel aborts running transfers and makes nothing more")
            << true << "cancel" << int(State::UserCanceled) << 2;
        QTest::newRow("a user cancel waits for uninterruptible work, then makes nothing more")
            << false << "cancel" << int(State::UserCanceled) << 2;
        QTest::newRow("a user-cancelled subtask, once released, still decides the end")
            << false << "abort" << int(State::UserCanceled) << 2;
    }

    void onDemandSubtasksEndLikeAddedOnes()
    {
        QFETCH(bool, transfers);
        QFETCH(QString, action);
        QFETCH(int, expectedState);
        QFETCH(int, expectedMade);

        OnDemandComposite composite(2, 5, transfers);
        QSignalSpy ended(&composite, &TaskSpecification::canceled);
        composite.execute();
        drainEvents();
        if (action == QLatin1String("fail"))
            composite.alive().first()->fail();
        else if (action == QLatin1String("abort"))
            composite.alive().first()->abort();
        else
            composite.userCanceled();
        drainEvents();
        releaseDeleted();
        // Subtasks that cannot be interrupted run to their end.
        for (FakeLeaf* leaf : composite.alive()) {
            if (leaf->state() == State::Running)
                leaf->end();
        }
        drainEvents();

        QCOMPARE(ended.size(), 1);
        QCOMPARE(composite.state(), expectedState);
        QCOMPARE(composite.made.size(), expectedMade);
    }

    void onDemandSubtasksKeepTheirTransferFigures()
    {
        OnDemandComposite composite(1, 2, false);
        composite.tickDone = 100;
        composite.tickTotal = 100;
        composite.tickSpeed = 40;
        composite.execute();
        drainEvents();
        composite.alive().first()->end();
        drainEvents();
        releaseDeleted();

        // The released file still counts, and its last speed is reported once.
        TransferFigures figures = composite.timeTick();
        QCOMPARE(figures.done, 200u);
        QCOMPARE(figures.total, 200u);
        QCOMPARE(figures.speed, 80u);
        figures = composite.timeTick();
        QCOMPARE(figures.done, 200u);
        QCOMPARE(figures.speed, 40u);
    }

    void messagesAndErrorsTravelUpUnchanged()
    {
        TestComposite root(1);
        auto* stage = new TestComposite(1, 1.0, &root);
        root.addSubTask(stage);
        auto* leaf = new FakeLeaf(stage, 1.0);
        stage->addSubTask(leaf);
        QSignalSpy messages(&root, &TaskSpecification::message);
        QSignalSpy errors(&root, &TaskSpecification::error);
        emit leaf->message(QStringLiteral("line"));
        emit leaf->error(QStringLiteral("boom"));
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.at(0).at(0).toString(), QStringLiteral("line"));
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("boom"));
    }
};

QTEST_GUILESS_MAIN(TestComposedTask)
#include "tst_composedtask.moc"
