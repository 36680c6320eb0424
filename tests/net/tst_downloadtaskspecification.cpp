// Downloads against the loopback server: what ends up on disk, which mirror
// is charged or dropped, and the exact log lines on the way.
#include <memory>

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include "downloadfixture.h"
#include "net/downloadtaskspecification.h"
#include "scratchmount.h"
#include "testfiles.h"

using Answer = TestHttpServer::Answer;

namespace {

// Where the downloaded file is to be written.
enum Place { MissingDir, ReadOnlyMount, NoPermission, SmallMount };

bool ended(const TaskSpecification* task)
{
    return task->state() != TaskSpecification::NotStarted && task->state() != TaskSpecification::Running;
}

} // namespace

class TestDownloadTaskSpecification : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void downloadsTheFile_data();
    void downloadsTheFile();
    void fileNameIsNotReadAsUrl_data();
    void fileNameIsNotReadAsUrl();
    void storesTheBytesAsServed();
    void failingMirrorIsLeftForAnother_data();
    void failingMirrorIsLeftForAnother();
    void noMirrorLeftEndsTheTask();
    void absenceIsAnAnswerWhereAllowed_data();
    void absenceIsAnAnswerWhereAllowed();
    void proxyRefusalBlamesNoMirror_data();
    void proxyRefusalBlamesNoMirror();
    void localWriteFailureBlamesNoMirror_data();
    void localWriteFailureBlamesNoMirror();
    void counters_data();
    void counters();

private:
    std::unique_ptr<DownloadFixture> fixture;
};

void TestDownloadTaskSpecification::init()
{
    fixture = std::make_unique<DownloadFixture>();
}

// The harness keeps the directory and prints the log of a failed test.
void TestDownloadTaskSpecification::cleanup()
{
    fixture.reset();
}

void TestDownloadTaskSpecification::downloadsTheFile_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<qint64>("expectedSize");
    QTest::addColumn<quint64>("reportedTotal");

    Answer unannounced = Answer::generated(70000);
    unannounced.sendContentLength = false;

    QTest::newRow("known size") << Answer::generated(100000) << qint64(100000) << quint64(100000);
    QTest::newRow("unknown size adopts the announced one")
        << Answer::generated(100000) << qint64(-1) << quint64(100000);
    // The transfer's last report gives the size once the body has ended.
    QTest::newRow("unknown size, none announced") << unannounced << qint64(-1) << quint64(70000);
    QTest::newRow("empty file") << Answer::ok({}) << qint64(0) << quint64(0);
}

void TestDownloadTaskSpecification::downloadsTheFile()
{
    QFETCH(Answer, answer);
    QFETCH(qint64, expectedSize);
    QFETCH(quint64, reportedTotal);

    QVERIFY(fixture->start({"A", "B"}));
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), answer);
    DownloadTaskSpecification* task = fixture->makeTask(expectedSize, 0.4);
    QSignalSpy finished(task, &TaskSpecification::finished);
    QSignalSpy canceled(task, &TaskSpecification::canceled);

    task->execute();
    QVERIFY(finished.wait(10000));

    QCOMPARE(task->state(), int(TaskSpecification::Finished));
    QCOMPARE(canceled.size(), 0);
    QCOMPARE(TestFiles::read(fixture->localPath()), TestHttpServer::generatedBytes(0, answer.bodySize()));
    QCOMPARE(fixture->server.requestedPaths(), QStringList {DownloadFixture::pathOn("A")});
    QCOMPARE(fixture->log, (QStringList {"Downloading data/file.bin", "Downloading data/file.bin finished"}));
    QCOMPARE(fixture->record("A")->inUse, 0);
    QCOMPARE(task->getMirror().name, QString("A"));
    QCOMPARE(task->progress(), 0.4);

    // A finished task keeps reporting its size, so totals keep counting it.
    const TransferFigures figures = task->timeTick();
    QCOMPARE(figures.done, quint64(answer.bodySize()));
    QCOMPARE(figures.total, reportedTotal);
    QVERIFY(!figures.active);

    // Its slot went back when it finished; a reset must not give it back again.
    task->reset();
    QCOMPARE(fixture->record("A")->inUse, 0);
    QVERIFY(task->getMirror().name.isEmpty());
    QVERIFY(QFileInfo::exists(fixture->localPath()));
}

void TestDownloadTaskSpecification::fileNameIsNotReadAsUrl_data()
{
    QTest::addColumn<QString>("remote");

    QTest::newRow("spaces and UTF-8") << QStringLiteral("Programm Dateien/Grüße an alle.txt");
    QTest::newRow("fragment mark") << QStringLiteral("docs/Kapitel #1.txt");
    QTest::newRow("query mark") << QStringLiteral("docs/wer?.txt");
    QTest::newRow("percent before hex digits") << QStringLiteral("daten/50%ab.txt");
    QTest::newRow("sub-delimiters") << QStringLiteral("Doku (de)/a+b;c=d,e&f.txt");
}

// What goes out must name the very file: the server decodes the target and
// looks for exactly that name below the version's folder.
void TestDownloadTaskSpecification::fileNameIsNotReadAsUrl()
{
    QFETCH(QString, remote);

    QVERIFY(fixture->start({"A"}));
    const QString onServer = QStringLiteral("/A/%1/").arg(DownloadFixture::version) + remote;
    QSignalSpy received(&fixture->server, &TestHttpServer::requestReceived);
    DownloadTaskSpecification* task = fixture->makeTask(-1, 1.0, {}, remote);

    task->execute();
    QVERIFY(received.wait(10000));

    const QUrl target = QUrl::fromEncoded(fixture->server.requests().constFirst().target);
    QCOMPARE(target.path(QUrl::FullyDecoded), onServer);
    QVERIFY(!target.hasQuery());
}

// A packed release file that the server labels with a Content-Encoding (a
// common setting for .gz) must arrive packed: its digest is that of the
// packed bytes.
void TestDownloadTaskSpecification::storesTheBytesAsServed()
{
    const QByteArray packed = TestFiles::gzip(QByteArray(5000, 'x'));
    Answer answer = Answer::ok(packed);
    answer.headers.append(TestHttpServer::Header("Content-Encoding", "gzip"));
    QVERIFY(fixture->start({"A"}));
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), answer);
    DownloadTaskSpecification* task = fixture->makeTask(packed.size());
    QSignalSpy finished(task, &TaskSpecification::finished);

    task->execute();
    QVERIFY(finished.wait(10000));

    QCOMPARE(TestFiles::read(fixture->localPath()), packed);
}

void TestDownloadTaskSpecification::failingMirrorIsLeftForAnother_data()
{
    QTest::addColumn<Answer>("answerOfA");
    QTest::addColumn<qint64>("expectedSize");
    QTest::addColumn<qint64>("sizeLimit");
    QTest::addColumn<int>("priorErrors"); // charged to A before the download
    QTest::addColumn<QString>("reason"); // pattern of the retry line; %URL% is A's URL of the file
    QTest::addColumn<int>("errorsOfA"); // afterwards; -1: A has been removed
    QTest::addColumn<bool>("removalLogged");

    const QString returned = "%URL%" + QRegularExpression::escape(" returned ");
    const QString larger = QRegularExpression::escape(
        "File data/file.bin from mirror A is larger than the expected 1000 bytes, discarding it");
    Answer dropped = Answer::generated(100000);
    dropped.dropAfter = 5000;
    Answer endless = Answer::generated(50000);
    endless.sendContentLength = false;
    const QString beyondLimit = QRegularExpression::escape(
        "File data/file.bin from mirror A is larger than the limit of 1000 bytes, discarding it");

    QTest::newRow("404 removes the mirror at once")
        << Answer::withStatus(404) << qint64(1000) << qint64(-1) << 0 << returned + "404" << -1 << false;
    QTest::newRow("302 removes the mirror, never followed")
        << Answer::redirect(302, "/elsewhere") << qint64(1000) << qint64(-1) << 0 << returned + "302" << -1
        << false;
    QTest::newRow("500 removes the mirror at once")
        << Answer::withStatus(500) << qint64(1000) << qint64(-1) << 0 << returned + "500" << -1 << false;
    QTest::newRow("401 removes the mirror")
        << Answer::authenticationRequired() << qint64(1000) << qint64(-1) << 0 << ".+" << -1 << false;
    QTest::newRow("dropped connection charges one error")
        << dropped << qint64(100000) << qint64(-1) << 0 << ".+" << 1 << false;
    QTest::newRow("third error removes the mirror, logged before the reason")
        << dropped << qint64(100000) << qint64(-1) << 2 << ".+" << -1 << true;
    QTest::newRow("more data than announced size charges the mirror")
        << Answer::generated(5000) << qint64(1000) << qint64(-1) << 0 << larger << 1 << false;
    QTest::newRow("endless data without a length charges the mirror")
        << endless << qint64(1000) << qint64(-1) << 0 << larger << 1 << false;
    QTest::newRow("endless data of unknown size, beyond its limit, charges the mirror")
        << endless << qint64(-1) << qint64(1000) << 0 << beyondLimit << 1 << false;
    Answer hugeHead = Answer::generated(1000);
    hugeHead.headerPadding = 64 * 1024 * 1024;
    QTest::newRow("64 MiB of response headers charges the mirror, not the next one")
        << hugeHead << qint64(1000) << qint64(-1) << 0
        << "%URL%" + QRegularExpression::escape(" sent more than 65536 bytes of response headers") << 1
        << false;
}

void TestDownloadTaskSpecification::failingMirrorIsLeftForAnother()
{
    QFETCH(Answer, answerOfA);
    QFETCH(qint64, expectedSize);
    QFETCH(qint64, sizeLimit);
    QFETCH(int, priorErrors);
    QFETCH(QString, reason);
    QFETCH(int, errorsOfA);
    QFETCH(bool, removalLogged);

    QVERIFY(fixture->start({"A", "B"}));
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), answerOfA);
    // What B serves is as large as a file may be.
    const qint64 size = expectedSize >= 0 ? expectedSize : sizeLimit;
    fixture->server.setAnswer(DownloadFixture::pathOn("B"), Answer::generated(size));
    for (int i = 0; i < priorErrors; ++i)
        fixture->mirrors.addMirrorError("A");
    DownloadTaskSpecification* task = fixture->makeTask(expectedSize);
    task->setSizeLimit(sizeLimit);
    fixture->retryOn("B");
    QSignalSpy finished(task, &TaskSpecification::finished);
    QSignalSpy errors(task, &TaskSpecification::error);

    task->execute();
    QVERIFY(finished.wait(10000));

    QCOMPARE(TestFiles::read(fixture->localPath()), TestHttpServer::generatedBytes(0, size));
    QCOMPARE(errors.size(), 0);
    const QStringList paths = fixture->server.requestedPaths();
    QCOMPARE(paths.constFirst(), DownloadFixture::pathOn("A"));
    QCOMPARE(paths.constLast(), DownloadFixture::pathOn("B"));
    QVERIFY(!paths.contains("/elsewhere"));

    QStringList log = fixture->log;
    QCOMPARE(log.takeFirst(), QString("Downloading data/file.bin"));
    QCOMPARE(log.takeLast(), QString("Downloading data/file.bin finished"));
    if (removalLogged)
        QCOMPARE(log.takeFirst(), QString("Mirror A failed too many times, removing"));
    QCOMPARE(log.size(), 1);
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QString(reason).replace("%URL%", QRegularExpression::escape(fixture->urlOn("A")))));
    QVERIFY2(pattern.match(log.constFirst()).hasMatch(), qPrintable(log.constFirst()));

    if (errorsOfA < 0)
        QVERIFY(!fixture->record("A"));
    else
        QCOMPARE(fixture->record("A")->errors, errorsOfA);
    QCOMPARE(fixture->record("B")->inUse, 0);
    QCOMPARE(fixture->record("B")->errors, 0);
}

void TestDownloadTaskSpecification::noMirrorLeftEndsTheTask()
{
    QVERIFY(fixture->start({"A"}));
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), Answer::withStatus(404));
    DownloadTaskSpecification* task = fixture->makeTask(1000);
    QSignalSpy canceled(task, &TaskSpecification::canceled);
    QSignalSpy errors(task, &TaskSpecification::error);

    task->execute();
    QVERIFY(canceled.wait(10000));
    QCOMPARE(task->state(), int(TaskSpecification::ErrorCanceled));
    QCOMPARE(errors.size(), 0);
    QVERIFY(!QFileInfo::exists(fixture->localPath()));

    // A later task finds the registry empty at once and says nothing new.
    DownloadTaskSpecification* later = fixture->makeTask(1000);
    later->execute();
    QCOMPARE(later->state(), int(TaskSpecification::ErrorCanceled));

    QCOMPARE(fixture->log,
        (QStringList {"Downloading data/file.bin", fixture->urlOn("A") + " returned 404",
            "There are no (more) known working mirrors available", "Downloading data/file.bin"}));
}

void TestDownloadTaskSpecification::absenceIsAnAnswerWhereAllowed_data()
{
    QTest::addColumn<int>("statusOfA");
    QTest::addColumn<bool>("absent");
    QTest::addColumn<QStringList>("requested"); // mirrors asked, in order

    QTest::newRow("404: no file, the mirror kept and uncharged") << 404 << true << QStringList {"A"};
    QTest::newRow("500 is still a fault: the file comes from another mirror")
        << 500 << false << QStringList {"A", "B"};
}

// A file a mirror may or may not carry (a signature of a newer kind).
void TestDownloadTaskSpecification::absenceIsAnAnswerWhereAllowed()
{
    QFETCH(int, statusOfA);
    QFETCH(bool, absent);
    QFETCH(QStringList, requested);
    QVERIFY(fixture->start({"A", "B"}));
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), Answer::withStatus(statusOfA));
    fixture->server.setAnswer(DownloadFixture::pathOn("B"), Answer::ok("signature"));
    DownloadTaskSpecification* task = fixture->makeTask(-1);
    task->setAbsenceAllowed(true);
    fixture->retryOn("B");

    QCOMPARE(fixture->run(task), int(TaskSpecification::Finished));
    QCOMPARE(task->isAbsent(), absent);
    QCOMPARE(QFileInfo::exists(fixture->localPath()), !absent);
    QStringList paths;
    for (const QString& mirror : requested)
        paths.append(DownloadFixture::pathOn(mirror));
    QCOMPARE(fixture->server.requestedPaths(), paths);
    QCOMPARE(fixture->record("A") != nullptr, absent);
    if (absent) {
        QCOMPARE(fixture->record("A")->errors, 0);
        QCOMPARE(fixture->record("A")->inUse, 0);
        QVERIFY(fixture->log.contains(QStringLiteral("data/file.bin is not on mirror A")));
    }
}

void TestDownloadTaskSpecification::proxyRefusalBlamesNoMirror_data()
{
    QTest::addColumn<QString>("user");
    QTest::newRow("no credentials") << QString();
    QTest::newRow("credentials it refuses") << QStringLiteral("corvane");
}

void TestDownloadTaskSpecification::proxyRefusalBlamesNoMirror()
{
    QFETCH(QString, user);
    QVERIFY(fixture->start({"A", "B"}));
    // The test server stands in for the proxy and refuses every request.
    Answer refusal = Answer::withStatus(407);
    refusal.headers.append(TestHttpServer::Header("Proxy-Authenticate", "Basic realm=\"proxy\""));
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), refusal);
    fixture->server.setAnswer(DownloadFixture::pathOn("B"), refusal);
    fixture->manager.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"),
        fixture->server.port(), user, QStringLiteral("guess")));
    DownloadTaskSpecification* task = fixture->makeTask(1000);

    QCOMPARE(fixture->run(task), int(TaskSpecification::ErrorCanceled));
    QCOMPARE(fixture->log,
        (QStringList {"Downloading data/file.bin",
            QStringLiteral("error: The proxy 127.0.0.1:%1 refused the credentials (407)")
                .arg(fixture->server.port())}));
    for (const char* name : {"A", "B"}) {
        QCOMPARE(fixture->record(name)->errors, 0);
        QCOMPARE(fixture->record(name)->inUse, 0);
    }
    QVERIFY(!QFileInfo::exists(fixture->localPath()));
}

void TestDownloadTaskSpecification::localWriteFailureBlamesNoMirror_data()
{
    QTest::addColumn<int>("place");
    QTest::addColumn<bool>("openFails"); // else writing fails
    QTest::addColumn<QString>("error"); // %DIR% is the file's directory

    const QString full =
        QStringLiteral("Cannot store the downloads in %DIR%: No space left on device. They "
                       "still need %1 there, %2 are free.")
            .arg(QLocale::c().formattedDataSize(200000), QLocale::c().formattedDataSize(65536));
    QTest::newRow("missing directory")
        << int(MissingDir) << true << "Cannot store the downloads in %DIR%: No such file or directory.";
    QTest::newRow("read-only file system")
        << int(ReadOnlyMount) << true << "Cannot store the downloads in %DIR%: Read-only file system.";
    QTest::newRow("directory without write permission")
        << int(NoPermission) << true << "Cannot store the downloads in %DIR%: Permission denied.";
    QTest::newRow("disk full while writing") << int(SmallMount) << false << full;
}

// Another mirror would fail the same way: the task stops, and the mirror it
// used is neither charged nor dropped.
void TestDownloadTaskSpecification::localWriteFailureBlamesNoMirror()
{
    QFETCH(int, place);
    QFETCH(bool, openFails);
    QFETCH(QString, error);

    std::unique_ptr<ScratchMount> mount;
    QString dir = fixture->dir.filePath("no/such/dir");
    if (place == ReadOnlyMount || place == SmallMount) {
        mount = std::make_unique<ScratchMount>(
            65536, place == ReadOnlyMount ? ScratchMount::ReadOnly : ScratchMount::Writable);
        if (!mount->isMounted())
            QSKIP(qPrintable(mount->skipReason()));
        dir = mount->path();
    } else if (place == NoPermission) {
        if (!ScratchMount::permissionsApply())
            QSKIP("root writes whatever the permission bits say");
        dir = fixture->dir.filePath("locked");
        QVERIFY(QDir().mkdir(dir));
        QVERIFY(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
    QVERIFY(fixture->start({"A", "B"}));
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), Answer::generated(200000));
    fixture->server.setAnswer(DownloadFixture::pathOn("B"), Answer::generated(200000));
    const QString path = dir + "/file.bin";
    DownloadTaskSpecification* task = fixture->makeTask(200000, 1.0, path);
    QSignalSpy errors(task, &TaskSpecification::error);
    QSignalSpy canceled(task, &TaskSpecification::canceled);

    task->execute();
    QVERIFY(canceled.size() == 1 || canceled.wait(10000));

    QCOMPARE(task->state(), int(TaskSpecification::ErrorCanceled));
    QCOMPARE(errors.size(), 1);
    const QString expected = QString(error).replace("%DIR%", dir);
    QCOMPARE(errors.at(0).at(0).toString(), expected);
    QStringList log {"Downloading data/file.bin"};
    if (openFails)
        log.append(QString("Unable to create file %1 for saving").arg(path));
    log.append("error: " + expected);
    QCOMPARE(fixture->log, log);
    QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(fixture->record("A")->inUse, 0);
    QCOMPARE(fixture->record("A")->errors, 0);
    QCOMPARE(fixture->record("B")->errors, 0);
    // Give a wrongly sent retry the chance to arrive before looking.
    QVERIFY(fixture->fetchOther("/probe"));
    QCOMPARE(fixture->server.requestCount(DownloadFixture::pathOn("B")), 0);
    QCOMPARE(fixture->server.requestCount(DownloadFixture::pathOn("A")), openFails ? 0 : 1);
}

void TestDownloadTaskSpecification::counters_data()
{
    QTest::addColumn<qint64>("expectedSize");
    QTest::addColumn<bool>("announced");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<quint64>("total");

    QTest::newRow("given size") << qint64(10000) << true << 0.25 << quint64(10000);
    // The adopted size counts from the next chunk on; this one came before it.
    QTest::newRow("unknown size adopts the announced one") << qint64(-1) << true << 0.0 << quint64(10000);
    QTest::newRow("unknown size, none announced") << qint64(-1) << false << 0.0 << quint64(0);
}

void TestDownloadTaskSpecification::counters()
{
    QFETCH(qint64, expectedSize);
    QFETCH(bool, announced);
    QFETCH(double, fraction);
    QFETCH(quint64, total);

    QVERIFY(fixture->start({"A"}));
    Answer stalled = Answer::generated(10000);
    stalled.stallAfter = 2500;
    stalled.sendContentLength = announced;
    // The network stack reports progress at most every 100 ms from the request
    // on; late enough, the first data comes with a report.
    stalled.headerDelayMs = 150;
    fixture->server.setAnswer(DownloadFixture::pathOn("A"), stalled);
    DownloadTaskSpecification* task = fixture->makeTask(expectedSize, 0.5);

    task->execute();
    const std::shared_ptr<qint64> received = fixture->watchNewestReply();
    QTRY_COMPARE_WITH_TIMEOUT(*received, qint64(2500), 10000);

    QCOMPARE(task->progress(), fraction * 0.5);
    TransferFigures figures = task->timeTick();
    QCOMPARE(figures.done, quint64(2500));
    QCOMPARE(figures.total, total);
    QCOMPARE(figures.speed, quint64(2500));
    QVERIFY(figures.active);
    figures = task->timeTick();
    QCOMPARE(figures.speed, quint64(0));
    QVERIFY(!ended(task));
}

QTEST_GUILESS_MAIN(TestDownloadTaskSpecification)
#include "tst_downloadtaskspecification.moc"
