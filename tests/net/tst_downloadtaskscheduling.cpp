// Downloads over time: the stall time-out driven by the engine's tick,
// waiting for a free mirror slot, and cancellation at any point.
#include <memory>

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "downloadfixture.h"
#include "net/downloadtaskspecification.h"
#include "testfiles.h"

using Answer = TestHttpServer::Answer;

namespace {

// A first answer that sends 100 of 1000 bytes after the progress report
// interval of the network stack, so the test can see them arrive, then nothing.
Answer stallingAnswer()
{
    Answer answer = Answer::generated(1000);
    answer.stallAfter = 100;
    answer.headerDelayMs = 150;
    return answer;
}

} // namespace

class TestDownloadTaskScheduling : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void silentTicksRetry_data();
    void silentTicksRetry();
    void dripIsJudgedByItsPace_data();
    void dripIsJudgedByItsPace();
    void waitsForAFreeSlot();
    void cancelLeavesNoPartialFile_data();
    void cancelLeavesNoPartialFile();

private:
    // Takes every slot of mirror A, as other transfers would.
    void occupyA();

    std::unique_ptr<DownloadFixture> fixture;
};

void TestDownloadTaskScheduling::init()
{
    fixture = std::make_unique<DownloadFixture>();
}

// The harness keeps the directory and prints the log of a failed test.
void TestDownloadTaskScheduling::cleanup()
{
    fixture.reset();
}

void TestDownloadTaskScheduling::occupyA()
{
    FTPSiteAccessData taken;
    while (fixture->record("A")->inUse < fixture->record("A")->maxConnections)
        QCOMPARE(fixture->mirrors.getRandomMirror(taken), int(Mirrors::MirrorSelected));
}

void TestDownloadTaskScheduling::silentTicksRetry_data()
{
    QTest::addColumn<int>("lateTick"); // the tick that comes 5 s after the one before; 0: none
    QTest::addColumn<int>("retryingTick");

    QTest::newRow("the sixteenth silent tick retries") << 0 << 16;
    // The process was held up, not the mirror: that tick is not judged.
    QTest::newRow("a late tick does not count") << 8 << 17;
}

void TestDownloadTaskScheduling::silentTicksRetry()
{
    QFETCH(int, lateTick);
    QFETCH(int, retryingTick);

    QVERIFY(fixture->start({"A", "B"}));
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), stallingAnswer());
    fixture->server.setAnswer(DownloadFixture::pathOn("B"), Answer::generated(1000));
    DownloadTaskSpecification* task = fixture->makeTask(1000);
    qint64 nowMs = 0;
    task->setClock([&nowMs] { return nowMs; });
    fixture->retryOn("B");
    QSignalSpy finished(task, &TaskSpecification::finished);

    task->execute();
    const std::shared_ptr<qint64> received = fixture->watchNewestReply();
    QTRY_COMPARE_WITH_TIMEOUT(*received, qint64(100), 10000);

    for (int tick = 1; tick < retryingTick; ++tick) {
        nowMs += tick == lateTick ? 5000 : 1000;
        QVERIFY2(task->timeTick().active, qPrintable(QString::number(tick)));
        QCOMPARE(task->getMirror().name, QString("A"));
    }
    nowMs += 1000;
    const TransferFigures retrying = task->timeTick();
    QVERIFY(!retrying.active);
    QCOMPARE(fixture->log.value(1), QString("file data/file.bin timed out on mirror A"));
    QCOMPARE(fixture->record("A")->errors, 1);
    QCOMPARE(fixture->record("A")->inUse, 0);

    QVERIFY(finished.wait(10000));
    QCOMPARE(TestFiles::read(fixture->localPath()), TestHttpServer::generatedBytes(0, 1000));
    QCOMPARE(fixture->server.requestedPaths(),
        (QStringList {DownloadFixture::pathOn("A"), DownloadFixture::pathOn("B")}));
}

void TestDownloadTaskScheduling::dripIsJudgedByItsPace_data()
{
    QTest::addColumn<int>("pieceBytes");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("tooSlow");

    // Ticks come every 10 ms and pieces every 20 ms: never a silent stretch
    // long enough for the time-out, and a window passes in a fraction of a
    // second. 8 KiB every other tick is four times the pace needed.
    QTest::newRow("steady and fast enough: kept over many windows") << 8192 << qint64(1024 * 1024) << false;
    QTest::newRow("a trickle that is never silent: dropped after one window") << 20 << qint64(20000) << true;
}

void TestDownloadTaskScheduling::dripIsJudgedByItsPace()
{
    QFETCH(int, pieceBytes);
    QFETCH(qint64, size);
    QFETCH(bool, tooSlow);

    QVERIFY(fixture->start({"A", "B"}));
    Answer drip = Answer::generated(size);
    drip.dripBytes = pieceBytes;
    drip.dripIntervalMs = 20;
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), drip);
    fixture->server.setAnswer(DownloadFixture::pathOn("B"), Answer::generated(size));
    DownloadTaskSpecification* task = fixture->makeTask(size);
    fixture->retryOn("B");
    QSignalSpy finished(task, &TaskSpecification::finished);

    int ticksOnA = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, task, [&] {
        const bool onA = task->getMirror().name == QLatin1String("A");
        if (task->timeTick().active && onA)
            ++ticksOnA;
    });
    ticker.start(10);
    task->execute();
    QVERIFY(finished.wait(30000));

    QCOMPARE(TestFiles::read(fixture->localPath()), TestHttpServer::generatedBytes(0, size));
    if (tooSlow) {
        QCOMPARE(fixture->log,
            (QStringList {"Downloading data/file.bin",
                "file data/file.bin too slow on mirror A: less than 1024 bytes per second over 60 seconds",
                "Downloading data/file.bin finished"}));
        QCOMPARE(ticksOnA, DownloadTaskSpecification::paceWindowTicks - 1);
        QCOMPARE(fixture->record("A")->errors, 1);
        QCOMPARE(fixture->server.requestCount(DownloadFixture::pathOn("B")), 1);
    } else {
        QCOMPARE(
            fixture->log, (QStringList {"Downloading data/file.bin", "Downloading data/file.bin finished"}));
        QVERIFY2(
            ticksOnA > 2 * DownloadTaskSpecification::paceWindowTicks, qPrintable(QString::number(ticksOnA)));
        QCOMPARE(fixture->server.requestCount(DownloadFixture::pathOn("B")), 0);
    }
}

void TestDownloadTaskScheduling::waitsForAFreeSlot()
{
    QVERIFY(fixture->start({"A"}));
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), Answer::generated(1000));
    occupyA();
    DownloadTaskSpecification* task = fixture->makeTask(1000);
    QSignalSpy finished(task, &TaskSpecification::finished);

    task->execute();
    QCOMPARE(task->state(), int(TaskSpecification::Running));
    // Other transfers end, but every slot is still held: the task asks again
    // after each and keeps waiting.
    QVERIFY(fixture->fetchOther("/other1"));
    QVERIFY(fixture->fetchOther("/other2"));
    QCOMPARE(fixture->server.requestedPaths(), (QStringList {"/other1", "/other2"}));
    QCOMPARE(fixture->record("A")->inUse, 3);

    // A slot given back is noticed at the next end of a transfer.
    fixture->mirrors.releaseMirror("A");
    QVERIFY(fixture->fetchOther("/other3"));
    // The small file may be complete before the other fetch has returned.
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(fixture->server.requestedPaths(),
        (QStringList {"/other1", "/other2", "/other3", DownloadFixture::pathOn("A")}));
    QCOMPARE(TestFiles::read(fixture->localPath()), TestHttpServer::generatedBytes(0, 1000));
    QCOMPARE(fixture->record("A")->inUse, 2);
}

void TestDownloadTaskScheduling::cancelLeavesNoPartialFile_data()
{
    QTest::addColumn<bool>("byUser"); // else a sibling task was cancelled
    QTest::addColumn<bool>("waiting"); // else transferring
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("log");

    const QString downloading = "Downloading data/file.bin";
    QTest::newRow("user cancel while transferring")
        << true << false << int(TaskSpecification::UserCanceled) << QStringList {downloading};
    QTest::newRow("sibling cancel while transferring")
        << false << false << int(TaskSpecification::ErrorCanceled)
        << QStringList {downloading, "Abort downloading data/file.bin"};
    QTest::newRow("user cancel while waiting for a slot")
        << true << true << int(TaskSpecification::UserCanceled) << QStringList {downloading};
    QTest::newRow("sibling cancel while waiting for a slot")
        << false << true << int(TaskSpecification::ErrorCanceled) << QStringList {downloading};
}

void TestDownloadTaskScheduling::cancelLeavesNoPartialFile()
{
    QFETCH(bool, byUser);
    QFETCH(bool, waiting);
    QFETCH(int, state);
    QFETCH(QStringList, log);

    QVERIFY(fixture->start({"A"}));
    fixture->server.setAnswer(
        DownloadFixture::pathOn("A"), waiting ? Answer::generated(1000) : stallingAnswer());
    if (waiting)
        occupyA();
    DownloadTaskSpecification* task = fixture->makeTask(1000);
    DownloadTaskSpecification* sibling = fixture->makeTask(1000);
    QSignalSpy canceled(task, &TaskSpecification::canceled);

    task->execute();
    if (!waiting) {
        const std::shared_ptr<qint64> received = fixture->watchNewestReply();
        QTRY_COMPARE_WITH_TIMEOUT(*received, qint64(100), 10000);
        QVERIFY(QFileInfo::exists(fixture->localPath()));
    }

    if (byUser)
        task->userCanceled();
    else
        QVERIFY(QMetaObject::invokeMethod(task, "onOtherTaskCancelled", Q_ARG(TaskSpecification*, sibling)));

    QCOMPARE(task->state(), state);
    QCOMPARE(canceled.size(), 1);
    QVERIFY(!QFileInfo::exists(fixture->localPath()));
    QCOMPARE(fixture->record("A")->inUse, waiting ? 3 : 0);
    QCOMPARE(fixture->log, log);
    QCOMPARE(task->timeTick().active, false);

    // A cancelled task does not come back to life when slots free up.
    if (waiting) {
        for (int i = 0; i < 3; ++i)
            fixture->mirrors.releaseMirror("A");
    }
    QVERIFY(fixture->fetchOther("/other"));
    QVERIFY(fixture->fetchOther("/other"));
    QCOMPARE(task->state(), state);
    QCOMPARE(canceled.size(), 1);
    QCOMPARE(fixture->server.requestCount(DownloadFixture::pathOn("A")), waiting ? 0 : 1);
    QCOMPARE(fixture->record("A")->inUse, 0);
}

QTEST_GUILESS_MAIN(TestDownloadTaskScheduling)
#include "tst_downloadtaskscheduling.moc"
