// The update engine driving real updates against mirrors on loopback: the
// outcome lines and signals, the session that survives a cancellation, and
// the proxy that carries every request.
#include "app/configuration.h"
#include "app/updateengine.h"
#include "buildconfig.h"
#include "mirrorsfixture.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testrelease.h"
#include "update/updateinidata.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString finalProgress = QStringLiteral("progress 0 0 0 false");
// The large files that stall on their way, and where version 42 of a test
// release keeps them on mirror A.
QString stalledFile(int i)
{
    return QStringLiteral("big%1.bin").arg(i);
}

QString stalledPath(int i)
{
    return QStringLiteral("/A/42/files/") + stalledFile(i);
}

} // namespace

class TestEngineRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void successfulUpdate();
    void errorKeepsTheSession();
    void userCancelThenNextStart_data();
    void userCancelThenNextStart();
    void proxyCarriesEveryRequest();

private:
    // A fresh configuration and engine for version; their lines go to events.
    void makeEngine(int version);
    // initialize() and startUpdate(); waits for the outcome signal.
    bool runUpdate(bool expectFinished);
    // Starts an update whose stalled files are all on their way at once, and
    // cancels it once the progress tick has reported them.
    bool runUntilUserCancel(int stalledFiles);
    QString recordedDir() const;
    QStringList tail(int count) const { return events.mid(events.size() - count); }

    QByteArray savedTmpDir;
    std::unique_ptr<QTemporaryDir> root;
    QString clientDir;
    QString tempRoot;
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<Configuration> configuration;
    std::unique_ptr<UpdateEngine> engine;
    // Everything the engine reported, in order; signals other than message
    // are written as "error: ...", "progress ...", "finished", "canceled".
    QStringList events;
};

void TestEngineRun::initTestCase()
{
    savedTmpDir = qgetenv("TMPDIR");
}

void TestEngineRun::init()
{
    if (!TestRelease::hasSigningKey())
        QSKIP("this build embeds a publisher's key; nothing here can be signed");
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    clientDir = root->filePath("client");
    tempRoot = root->filePath("tmp");
    QVERIFY(QDir().mkpath(clientDir));
    QVERIFY(QDir().mkpath(tempRoot));
    Configuration::setAppRootPathOverride(clientDir);
    // Session directories are made in the system's temporary folder.
    qputenv("TMPDIR", tempRoot.toUtf8());
    server = std::make_unique<TestHttpServer>();
    QVERIFY(server->listen());
    QVERIFY(TestRelease::writeMirrorsIni(clientDir + "/mirrors.ini", *server, {"A"}));
    events.clear();
}

void TestEngineRun::cleanup()
{
    engine.reset();
    configuration.reset();
    server.reset();
    Configuration::setAppRootPathOverride(QString());
    qputenv("TMPDIR", savedTmpDir);
    if (root && QTest::currentTestFailed()) {
        root->setAutoRemove(false);
        qWarning().noquote() << "kept" << root->path() << "\nevents:\n" << events.join(QLatin1Char('\n'));
    }
}

void TestEngineRun::cleanupTestCase()
{
    if (savedTmpDir.isNull())
        qunsetenv("TMPDIR");
}

void TestEngineRun::makeEngine(int version)
{
    engine.reset();
    configuration = std::make_unique<Configuration>();
    configuration->setClientVersion(version);
    configuration->setClientType(Configuration::getUpdateType());
    engine = std::make_unique<UpdateEngine>(*configuration, nullptr);
    UpdateEngine* e = engine.get();
    connect(e, &UpdateEngine::message, this, [this](const QString& line) { events.append(line); });
    connect(e, &UpdateEngine::error, this, [this](const QString& line) { events.append("error: " + line); });
    connect(
        e, &UpdateEngine::fatalError, this, [this](const QString& line) { events.append("fatal: " + line); });
    connect(e, &UpdateEngine::downloadProgress, this,
        [this](quint64 done, quint64 total, quint64 speed, bool on) {
            events.append(QStringLiteral("progress %1 %2 %3 %4")
                              .arg(done)
                              .arg(total)
                              .arg(speed)
                              .arg(on ? "true" : "false"));
        });
    connect(e, &UpdateEngine::updateFinished, this, [this] { events.append("finished"); });
    connect(e, &UpdateEngine::updateCanceled, this, [this] { events.append("canceled"); });
}

bool TestEngineRun::runUpdate(bool expectFinished)
{
    QSignalSpy outcome(
        engine.get(), expectFinished ? &UpdateEngine::updateFinished : &UpdateEngine::updateCanceled);
    if (!engine->initialize())
        return false;
    engine->startUpdate();
    return outcome.wait(30000);
}

bool TestEngineRun::runUntilUserCancel(int stalledFiles)
{
    QSignalSpy canceled(engine.get(), &UpdateEngine::updateCanceled);
    if (!engine->initialize())
        return false;
    engine->startUpdate();
    // The tick relays what the transfers report.
    const bool reported = QTest::qWaitFor(
        [this] {
            return !events.filter(QRegularExpression("^progress \\d+ [1-9]\\d* \\d+ true$")).isEmpty();
        },
        10000);
    for (int i = 0; i < stalledFiles; ++i) {
        if (!reported || !QTest::qWaitFor([&] { return server->requestCount(stalledPath(i)) == 1; }, 10000))
            return false;
    }
    // The tree may wind down within the call already.
    engine->cancelUpdate();
    return !canceled.isEmpty() || canceled.wait(10000);
}

QString TestEngineRun::recordedDir() const
{
    QString dir;
    return UpdateIniData::get(nullptr, nullptr, &dir) ? dir : QString();
}

void TestEngineRun::successfulUpdate()
{
    TestRelease release;
    release.addFile("a.txt", "alpha");
    release.addPackedFile("lib/b.so.gz", "lib/b.so", "beta");
    release.serve(*server, "A");
    makeEngine(release.version());
    // Nothing runs yet: a cancel request has nothing to stop.
    engine->cancelUpdate();

    QVERIFY(engine->initialize());
    const QString tempDir = configuration->tempDir();
    QCOMPARE(QFileInfo(tempDir).absolutePath(), tempRoot);
    QVERIFY(QFileInfo(tempDir).fileName().startsWith("corvane_temp_"));
    QVERIFY(QFileInfo(tempDir).isDir());
    QCOMPARE(recordedDir(), tempDir);
    engine->cancelUpdate();
    QVERIFY(engine->busy());

    QSignalSpy finished(engine.get(), &UpdateEngine::updateFinished);
    QSignalSpy progress(engine.get(), &UpdateEngine::updateProgress);
    QVERIFY(engine->startUpdate());
    QVERIFY(finished.wait(30000));
    QVERIFY(!progress.isEmpty());
    QVERIFY(qFuzzyCompare(progress.last().at(0).toReal(), 1.0));

    QCOMPARE(tail(5),
        (QStringList {"Remove temporary files...", "Temporary files removed.", "Update successfully finished",
            finalProgress, "finished"}));
    QVERIFY(events.filter("error: ").isEmpty());
    QCOMPARE(TestFiles::read(clientDir + "/a.txt"), QByteArray("alpha"));
    QCOMPARE(TestFiles::read(clientDir + "/lib/b.so"), QByteArray("beta"));
    QVERIFY(!QFileInfo::exists(tempDir));
    QVERIFY(!UpdateIniData::get(nullptr, nullptr, nullptr));
    QCOMPARE(UpdateIniData::installedVersion(), release.version());
    QVERIFY(!engine->busy());

    const int before = events.size();
    engine->cancelUpdate();
    QCoreApplication::processEvents();
    QCOMPARE(events.size(), before);
}

void TestEngineRun::errorKeepsTheSession()
{
    TestRelease release;
    release.addFile("a.txt", "alpha");
    release.addFile("b.txt", "beta");
    release.serve(*server, "A");
    server->setAnswer(release.serverPath("A", "b.txt"), TestHttpServer::Answer::withStatus(404));
    makeEngine(release.version());

    QVERIFY(runUpdate(false));

    // The task and the registry have said what went wrong; the engine
    // passes that on and adds no line of its own.
    QCOMPARE(tail(2), (QStringList {finalProgress, "canceled"}));
    QVERIFY(events.contains(server->baseUrl() + "/A/42/files/b.txt returned 404"));
    QVERIFY(events.contains("There are no (more) known working mirrors available"));
    QVERIFY(!events.contains("User aborted update"));
    QVERIFY(QFileInfo(configuration->tempDir()).isDir());
    QCOMPARE(recordedDir(), configuration->tempDir());
    QCOMPARE(UpdateIniData::installedVersion(), 0);
    QVERIFY(!engine->busy());
}

void TestEngineRun::userCancelThenNextStart_data()
{
    QTest::addColumn<int>("stalledFiles");
    QTest::addColumn<int>("nextVersion");
    QTest::newRow("the same version continues in the directory") << 1 << 42;
    QTest::newRow("another version clears it first") << 1 << 43;
    // The first transfer takes the cancel; the others must not turn it into an error.
    QTest::newRow("several downloads running") << 3 << 42;
}

void TestEngineRun::userCancelThenNextStart()
{
    QFETCH(int, stalledFiles);
    QFETCH(int, nextVersion);

    TestRelease first;
    first.addFile("a.txt", "alpha");
    for (int i = 0; i < stalledFiles; ++i)
        first.addGeneratedFile(stalledFile(i), 4 << 20);
    first.serve(*server, "A");
    for (int i = 0; i < stalledFiles; ++i) {
        TestHttpServer::Answer stalled = server->answerFor(stalledPath(i));
        stalled.stallAfter = 1000;
        server->setAnswer(stalledPath(i), stalled);
    }
    makeEngine(first.version());

    QVERIFY(runUntilUserCancel(stalledFiles));

    QCOMPARE(tail(3), (QStringList {"User aborted update", finalProgress, "canceled"}));
    // Directory and record stay for the next start; nothing was installed.
    const QString firstDir = configuration->tempDir();
    QVERIFY(QFileInfo(firstDir).isDir());
    QCOMPARE(recordedDir(), firstDir);
    QVERIFY(!QFileInfo::exists(clientDir + "/a.txt"));
    QVERIFY(!engine->busy());
    const int before = events.size();
    engine->cancelUpdate();
    engine->reset();
    QCoreApplication::processEvents();
    QCOMPARE(events.size(), before);

    // The next program start, with the stall gone.
    TestRelease next(nextVersion);
    next.addFile("a.txt", "alpha");
    for (int i = 0; i < stalledFiles; ++i)
        next.addGeneratedFile(stalledFile(i), 4 << 20);
    next.serve(*server, "A");
    makeEngine(nextVersion);
    events.clear();
    QVERIFY(runUpdate(true));

    if (nextVersion == 42) {
        QCOMPARE(events.first(), QStringLiteral("Previous update session for v. 42 found"));
        QCOMPARE(configuration->tempDir(), firstDir);
    } else {
        QCOMPARE(events.mid(0, 2),
            (QStringList {
                QStringLiteral("Cleanup previous session (v. 42, %1) files...").arg(firstDir), "Ok"}));
    }
    QCOMPARE(tail(2), (QStringList {finalProgress, "finished"}));
    for (int i = 0; i < stalledFiles; ++i)
        QVERIFY(
            TestFiles::read(clientDir + "/" + stalledFile(i)) == TestHttpServer::generatedBytes(0, 4 << 20));
    QVERIFY(!QFileInfo::exists(firstDir));
    QVERIFY(!QFileInfo::exists(configuration->tempDir()));
}

void TestEngineRun::proxyCarriesEveryRequest()
{
    // The mirror's host does not exist; only the proxy can answer for it.
    QVERIFY(TestFiles::write(
        clientDir + "/mirrors.ini", MirrorsFixture::ini({{"A", QStringLiteral("http://mirror.invalid/A")}})));
    QVERIFY(
        TestFiles::write(clientDir + "/update.ini", "[update]\nproxy=" + server->baseUrl().toUtf8() + "\n"));
    TestRelease release;
    release.addFile("a.txt", "alpha");
    release.addFile("b.txt", "beta");
    release.serve(*server, "A");
    makeEngine(release.version());

    QVERIFY(runUpdate(true));

    QCOMPARE(TestFiles::read(clientDir + "/b.txt"), QByteArray("beta"));
    const QList<TestHttpServer::Request> requests = server->requests();
    // Product ini, the question for its .sig256, its .sig, the patch index
    // asked for and the two files.
    QCOMPARE(requests.size(), 6);
    for (const TestHttpServer::Request& request : requests) {
        QVERIFY2(request.target.startsWith("http://mirror.invalid/A/42/"), request.requestLine.constData());
        // Publishers tell the updater's traffic apart by it.
        QCOMPARE(request.header("User-Agent"), QByteArray("CorvaneUpdater/" CORVANE_VERSION));
    }
}

QTEST_MAIN(TestEngineRun)
#include "tst_enginerun.moc"
