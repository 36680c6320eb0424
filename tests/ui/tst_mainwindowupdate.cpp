// Whole updates through the main window against a release on a loopback
// mirror: the start button's three meanings, a cancelled update and its
// restart, closing the window while an update runs, and an unattended run.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <memory>

#include "app/configuration.h"
#include "messageboxcatcher.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testrelease.h"
#include "ui/mainwindow.h"

namespace {

constexpr int updateTimeoutMs = 30000;
const QString stalledFile = QStringLiteral("big.bin");

} // namespace

class TestMainWindowUpdate : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void wholeUpdate_data();
    void wholeUpdate();
    void cancelledUpdateRestarts();
    void closeDuringUpdate();
    void closeConfirmedAfterTheUpdateEnded();

private:
    void makeWindow(Configuration::RunMode runMode);
    QPushButton* startButton() const
    {
        return window->findChild<QPushButton*>(QStringLiteral("startButton"));
    }
    QString log() const
    {
        return window->findChild<QTextEdit*>(QStringLiteral("outputTextEdit"))->toPlainText();
    }
    QString clientFile(const QString& name) const { return clientDir + QLatin1Char('/') + name; }

    QByteArray savedTmpDir;
    std::unique_ptr<QTemporaryDir> root;
    QString clientDir;
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<Configuration> configuration;
    std::unique_ptr<MainWindow> window;
};

void TestMainWindowUpdate::initTestCase()
{
    savedTmpDir = qgetenv("TMPDIR");
    // Only the window may end the event loop; closing the last window must not.
    QApplication::setQuitOnLastWindowClosed(false);
    qputenv("CORVANE_BANNER_SERVER", "127.0.0.1:9");
}

void TestMainWindowUpdate::init()
{
    if (!TestRelease::hasSigningKey())
        QSKIP("this build embeds a publisher's key; no release can be signed");
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    clientDir = root->filePath(QStringLiteral("client"));
    QVERIFY(QDir().mkpath(clientDir));
    QVERIFY(QDir().mkpath(root->filePath(QStringLiteral("tmp"))));
    Configuration::setAppRootPathOverride(clientDir);
    // Session directories go below the test's own folder.
    qputenv("TMPDIR", QFile::encodeName(root->filePath(QStringLiteral("tmp"))));

    // The client's start script leaves a mark, so a test sees that it ran.
    const QString script = clientFile(Configuration::getClientBinaryName());
    QVERIFY(TestFiles::write(script, "#!/bin/sh\ntouch \"$(dirname \"$0\")/client-started\"\n"));
    QVERIFY(QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner));

    server = std::make_unique<TestHttpServer>();
    QVERIFY(server->listen());
    QVERIFY(TestRelease::writeMirrorsIni(clientFile(QStringLiteral("mirrors.ini")), *server, {"A"}));
}

void TestMainWindowUpdate::cleanup()
{
    window.reset();
    configuration.reset();
    server.reset();
    Configuration::setAppRootPathOverride(QString());
    qputenv("TMPDIR", savedTmpDir);
    if (root && QTest::currentTestFailed())
        root->setAutoRemove(false);
    root.reset();
}

void TestMainWindowUpdate::cleanupTestCase()
{
    if (savedTmpDir.isNull())
        qunsetenv("TMPDIR");
}

void TestMainWindowUpdate::makeWindow(Configuration::RunMode runMode)
{
    configuration = std::make_unique<Configuration>();
    configuration->setClientType(Configuration::getUpdateType());
    configuration->setClientVersion(TestRelease().version());
    configuration->setRunMode(runMode);
    window = std::make_unique<MainWindow>(*configuration);
    window->setUIToConfigSpecs();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestMainWindowUpdate::wholeUpdate_data()
{
    QTest::addColumn<Configuration::RunMode>("runMode");
    QTest::newRow("interactive: the button starts the client") << Configuration::RunMode::Interactive;
    QTest::newRow("unattended: the client starts by itself") << Configuration::RunMode::Unattended;
}

void TestMainWindowUpdate::wholeUpdate()
{
    QFETCH(Configuration::RunMode, runMode);

    TestRelease release;
    release.addFile(QStringLiteral("a.txt"), "alpha");
    release.addPackedFile(QStringLiteral("lib/b.so.gz"), QStringLiteral("lib/b.so"), "beta");
    release.serve(*server, QStringLiteral("A"));
    makeWindow(runMode);
    QPushButton* start = startButton();
    QCOMPARE(start->text(), QStringLiteral("Start Update"));
    QCOMPARE(start->isEnabled(), runMode == Configuration::RunMode::Interactive);

    if (runMode == Configuration::RunMode::Interactive)
        QTest::mouseClick(start, Qt::LeftButton);
    else
        window->onAutoStartUpdate();
    QVERIFY(!start->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(start->text(), QStringLiteral("Start Corvane"), updateTimeoutMs);
    QCOMPARE(TestFiles::read(clientFile(QStringLiteral("a.txt"))), QByteArray("alpha"));
    QCOMPARE(TestFiles::read(clientFile(QStringLiteral("lib/b.so"))), QByteArray("beta"));
    QCOMPARE(window->findChild<QProgressBar*>(QStringLiteral("totalProgressBar"))->value(), 1000);
    QVERIFY(log().contains(QLatin1String("Update successfully finished")));
    QVERIFY(!window->findChild<QLabel*>(QStringLiteral("totalSizeLabel"))->isVisible());

    if (runMode == Configuration::RunMode::Interactive) {
        QVERIFY(start->isEnabled());
        QTest::qWait(1500); // no start by itself
        QVERIFY(!QFile::exists(clientFile(QStringLiteral("client-started"))));
        QTest::mouseClick(start, Qt::LeftButton);
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(clientFile(QStringLiteral("client-started"))), 5000);
    QVERIFY(!window->isVisible());
}

void TestMainWindowUpdate::cancelledUpdateRestarts()
{
    TestRelease release;
    release.addFile(QStringLiteral("a.txt"), "alpha");
    release.addFile(QStringLiteral("b.txt"), "beta");
    release.serve(*server, QStringLiteral("A"));
    server->setAnswer(release.serverPath(QStringLiteral("A"), QStringLiteral("b.txt")),
        TestHttpServer::Answer::withStatus(404));
    makeWindow(Configuration::RunMode::Interactive);
    QPushButton* start = startButton();

    MessageBoxCatcher catcher;
    QTest::mouseClick(start, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(start->text(), QStringLiteral("Restart"), updateTimeoutMs);
    QVERIFY(start->isEnabled());
    // The reason is in the details log; the box says where to look.
    QTRY_VERIFY_WITH_TIMEOUT(catcher.titles.contains(QStringLiteral("Update")), 5000);
    QVERIFY(log().contains(QLatin1String("b.txt returned 404")));
    QCOMPARE(catcher.titles.last(), QStringLiteral("Update"));
    QCOMPARE(catcher.texts.last(), QStringLiteral("Update cancelled. Push \"Details\" to check reasons."));
    QVERIFY(log().contains(QLatin1String("Update cancelled")));
    QCOMPARE(window->findChild<QProgressBar*>(QStringLiteral("totalProgressBar"))->value(), 0);
    QVERIFY(!QFile::exists(clientFile(QStringLiteral("b.txt"))));

    // With the mirror mended, the next press runs a fresh update to its end.
    release.serve(*server, QStringLiteral("A"));
    server->clearRequests();
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(!start->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(start->text(), QStringLiteral("Start Corvane"), updateTimeoutMs);
    QCOMPARE(TestFiles::read(clientFile(QStringLiteral("b.txt"))), QByteArray("beta"));
    QCOMPARE(server->requestCount(release.serverPath(QStringLiteral("A"), QStringLiteral("b.txt"))), 1);
    QCOMPARE(catcher.titles.count(QStringLiteral("Update")), 1);
}

void TestMainWindowUpdate::closeDuringUpdate()
{
    TestRelease release;
    release.addFile(QStringLiteral("a.txt"), "alpha");
    release.addGeneratedFile(stalledFile, 4 << 20);
    release.serve(*server, QStringLiteral("A"));
    const QString stalledPath = release.serverPath(QStringLiteral("A"), stalledFile);
    TestHttpServer::Answer stalled = server->answerFor(stalledPath);
    stalled.stallAfter = 1000;
    server->setAnswer(stalledPath, stalled);
    makeWindow(Configuration::RunMode::Interactive);

    QTest::mouseClick(startButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(server->requestCount(stalledPath), 1, updateTimeoutMs);
    const QString question =
        QStringLiteral("<p>Update in progress.</p><p>Are you sure you want to abort?</p>");

    {
        MessageBoxCatcher no(QMessageBox::No);
        window->close();
        QCOMPARE(no.titles, QStringList {QStringLiteral("Question")});
        QCOMPARE(no.texts, QStringList {question});
    }
    QVERIFY(window->isVisible());
    QVERIFY(!startButton()->isEnabled());
    QVERIFY(!log().contains(QLatin1String("User aborted update")));

    // Yes cancels; the second attempt, while the cancellation may still run,
    // asks nothing; the reported cancellation ends the program without its box.
    MessageBoxCatcher yes(QMessageBox::Yes);
    QTimer::singleShot(0, window.get(), [this] {
        window->close();
        window->close();
    });
    QTimer::singleShot(updateTimeoutMs, qApp, [] { QApplication::exit(99); });
    QCOMPARE(QApplication::exec(), 0);
    QCOMPARE(yes.texts, QStringList {question});
    QVERIFY(log().contains(QLatin1String("User aborted update")));
    QVERIFY(!QFile::exists(clientFile(QStringLiteral("a.txt"))));
}

void TestMainWindowUpdate::closeConfirmedAfterTheUpdateEnded()
{
    TestRelease release;
    release.addGeneratedFile(stalledFile, 40000);
    release.serve(*server, QStringLiteral("A"));
    const QString slowPath = release.serverPath(QStringLiteral("A"), stalledFile);
    TestHttpServer::Answer slow = server->answerFor(slowPath);
    slow.dripBytes = 2000;
    slow.dripIntervalMs = 50;
    server->setAnswer(slowPath, slow);
    makeWindow(Configuration::RunMode::Interactive);

    QTest::mouseClick(startButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(server->requestCount(slowPath), 1, updateTimeoutMs);

    // The user takes time to answer: the update finishes while the question is open.
    MessageBoxCatcher yes(QMessageBox::Yes);
    bool finishedBeforeAnswer = false;
    yes.beforeAnswer = [&](const QString&) {
        finishedBeforeAnswer = QTest::qWaitFor(
            [this] { return startButton()->text() == QStringLiteral("Start Corvane"); }, updateTimeoutMs);
    };
    window->close();
    QVERIFY(finishedBeforeAnswer);
    QCOMPARE(yes.titles, QStringList {QStringLiteral("Question")});
    QVERIFY(!window->isVisible());
    QVERIFY(!QFile::exists(clientFile(QStringLiteral("client-started"))));
}

QTEST_MAIN(TestMainWindowUpdate)
#include "tst_mainwindowupdate.moc"
