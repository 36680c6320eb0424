// Work on all cores: every index once, state per thread, progress on the
// calling thread, cancel, and a failing item.
#include "base/parallelfor.h"

#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

class TestParallelFor : public QObject {
    Q_OBJECT

    // State a thread keeps: whoever uses it first owns it.
    struct Tally {
        std::thread::id owner;
    };

private slots:
    void everyIndexOnce_data()
    {
        QTest::addColumn<qsizetype>("count");
        QTest::addColumn<int>("maxWorkers");
        QTest::addColumn<int>("workers");
        QTest::newRow("empty range") << qsizetype(0) << 4 << 1;
        QTest::newRow("more threads than items") << qsizetype(3) << 8 << 3;
        QTest::newRow("many items on few threads") << qsizetype(5000) << 3 << 3;
    }

    void everyIndexOnce()
    {
        QFETCH(qsizetype, count);
        QFETCH(int, maxWorkers);
        QFETCH(int, workers);
        ParallelFor pool(count, maxWorkers);
        QCOMPARE(pool.workerCount(), workers);
        std::vector<std::atomic<int>> visits(static_cast<size_t>(count));
        std::vector<qsizetype> reports;
        pool.setProgress([&](qsizetype done) {
            QCOMPARE(QThread::currentThread(), thread());
            reports.push_back(done);
        });
        std::atomic<bool> sharedState {false};
        QVERIFY(pool.runWith<Tally>([&](qsizetype index, Tally& tally) {
            if (tally.owner == std::thread::id())
                tally.owner = std::this_thread::get_id();
            sharedState = sharedState || tally.owner != std::this_thread::get_id();
            ++visits[size_t(index)];
        }));
        QVERIFY(!sharedState);
        QVERIFY(std::all_of(visits.begin(), visits.end(), [](const std::atomic<int>& v) { return v == 1; }));
        QCOMPARE(reports.back(), count);
        QVERIFY(std::is_sorted(reports.begin(), reports.end()));
    }

    void cancelStartsNoFurtherIndex_data()
    {
        QTest::addColumn<int>("maxWorkers");
        QTest::newRow("one thread") << 1;
        QTest::newRow("four threads") << 4;
    }

    void cancelStartsNoFurtherIndex()
    {
        QFETCH(int, maxWorkers);
        ParallelFor pool(1000, maxWorkers);
        std::atomic<qsizetype> started {0};
        qsizetype lastReport = -1;
        pool.setProgress([&](qsizetype done) { lastReport = done; });
        pool.setCancel([&] { return started >= 5; });
        QVERIFY(!pool.run([&](qsizetype, int) { ++started; }));
        // Each thread may have taken one index before it saw the cancel.
        QVERIFY(started >= 5 && started <= 5 + maxWorkers - 1);
        QCOMPARE(lastReport, started.load());
    }

    void failureOfTheLowestIndexIsThrown_data() { cancelStartsNoFurtherIndex_data(); }

    void failureOfTheLowestIndexIsThrown()
    {
        QFETCH(int, maxWorkers);
        ParallelFor pool(100, maxWorkers);
        int thrown = -1;
        try {
            pool.run([](qsizetype index, int) {
                if (index == 3 || index == 7)
                    throw int(index);
            });
        } catch (int index) {
            thrown = index;
        }
        // 7 is handed out after 3, so 3 always runs, and fails, whichever
        // thread meets its failure first.
        QCOMPARE(thrown, 3);
    }
};

QTEST_GUILESS_MAIN(TestParallelFor)
#include "tst_parallelfor.moc"
