// Downloads over time: the stall time-out driven by the engine's tick,
// waiting for a free mirror slot, and cancellation at any point.
#include <memory>

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include "downloadfixture.h"
#include "net/downloadtaskspecification.h"
#include "testfiles.h"

using Answer = TestHttpServer::Answer;

namespace {

struct Tick {
    quint64 done = 0;
    quint64 total = 0;
    quint64 speed = 0;
    bool downloading = false;
};

Tick tick(TaskSpecification* task)
{
    Tick result;
    task->timeTick(result.done, result.total, result.speed, result.downloading);
    return result;
}

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
    void sixteenthSilentTickRetries();
    void steadyDripNeverTimesOut();
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

void TestDownloadTaskScheduling::sixteenthSilentTickRetries()
{
    QVERIFY(fixture->start({"A", "B"}));
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), stallingAnswer());
    fixture->server.setAnswer(DownloadFixture::pathOn("B"), Answer::generated(1000));
    DownloadTaskSpecification* task = fixture->makeTask(1000);
    fixture->retryOn("B");
    QSignalSpy finished(task, &TaskSpecification::finished);

    task->execute();
    const std::shared_ptr<qint64> received = fixture->watchNewestReply();
    QTRY_COMPARE_WITH_TIMEOUT(*received, qint64(100), 10000);

    for (int silent = 1; silent <= 15; ++silent) {
        QVERIFY2(tick(task).downloading, qPrintable(QString::number(silent)));
        QCOMPARE(task->getMirror().name, QString("A"));
    }
    const Tick sixteenth = tick(task);
    QVERIFY(!sixteenth.downloading);
    QCOMPARE(fixture->log.value(1), QString("file data/file.bin timed out on mirror A"));
    QCOMPARE(fixture->record("A")->errors, 1);
    QCOMPARE(fixture->record("A")->inUse, 0);

    QVERIFY(finished.wait(10000));
    QCOMPARE(TestFiles::read(fixture->localPath()), TestHttpServer::generatedBytes(0, 1000));
    QCOMPARE(fixture->server.requestedPaths(),
        (QStringList {DownloadFixture::pathOn("A"), DownloadFixture::pathOn("B")}));
}

void TestDownloadTaskScheduling::steadyDripNeverTimesOut()
{
    QVERIFY(fixture->start({"A"}));
    Answer drip = Answer::generated(300);
    drip.dripBytes = 20;
    drip.dripIntervalMs = 40;
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), drip);
    DownloadTaskSpecification* task = fixture->makeTask(300);

    // Ten ticks between pieces: far more ticks than the time-out in all,
    // but never sixteen without data.
    task->execute();
    int ticks = 0;
    double seen = 0;
    while (task->state == TaskSpecification::Running) {
        QTRY_VERIFY_WITH_TIMEOUT(task->progress > seen || task->state != TaskSpecification::Running, 5000);
        seen = task->progress;
        for (int i = 0; i < 10 && task->state == TaskSpecification::Running; ++i, ++ticks)
            QVERIFY(tick(task).downloading);
    }
    QCOMPARE(task->state, int(TaskSpecification::Finished));
    QVERIFY2(ticks > 16, qPrintable(QString::number(ticks)));
    QCOMPARE(fixture->log, (QStringList {"Downloading data/file.bin", "Downloading data/file.bin finished"}));
    QCOMPARE(TestFiles::read(fixture->localPath()), TestHttpServer::generatedBytes(0, 300));
}

void TestDownloadTaskScheduling::waitsForAFreeSlot()
{
    QVERIFY(fixture->start({"A"}));
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), Answer::generated(1000));
    occupyA();
    DownloadTaskSpecification* task = fixture->makeTask(1000);
    QSignalSpy finished(task, &TaskSpecification::finished);

    task->execute();
    QCOMPARE(task->state, int(TaskSpecification::Running));
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

    QCOMPARE(task->state, state);
    QCOMPARE(canceled.size(), 1);
    QVERIFY(!QFileInfo::exists(fixture->localPath()));
    QCOMPARE(fixture->record("A")->inUse, waiting ? 3 : 0);
    QCOMPARE(fixture->log, log);
    QCOMPARE(tick(task).downloading, false);

    // A cancelled task does not come back to life when slots free up.
    if (waiting) {
        for (int i = 0; i < 3; ++i)
            fixture->mirrors.releaseMirror("A");
    }
    QVERIFY(fixture->fetchOther("/other"));
    QVERIFY(fixture->fetchOther("/other"));
    QCOMPARE(task->state, state);
    QCOMPARE(canceled.size(), 1);
    QCOMPARE(fixture->server.requestCount(DownloadFixture::pathOn("A")), waiting ? 0 : 1);
    QCOMPARE(fixture->record("A")->inUse, 0);
}

QTEST_GUILESS_MAIN(TestDownloadTaskScheduling)
#include "tst_downloadtaskscheduling.moc"
