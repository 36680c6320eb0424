// The main window through its slots and the form's named widgets: sizes and
// speed, the details log, the banner image, a second start, errors and their
// exit codes, markup from outside that must load nothing, the Retry/Abort
// question when the update server does not answer, the change log button,
// the start of the client, and one window size through a whole update.
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QTranslator>

#include <functional>
#include <memory>

#include "app/configuration.h"
#include "messageboxcatcher.h"
#include "mirrorsfixture.h"
#include "openwatcher.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "udpresponder.h"
#include "ui/changelogviewer.h"
#include "ui/mainwindow.h"
#include "ui/urlclicklabel.h"

namespace {

QByteArray pngImage()
{
    QImage image(468, 60, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void downloadProgress_data();
    void downloadProgress();
    void detailsShowTheEndOfTheLog();
    void aLongLogKeepsItsLatestLines();
    void bannerImage_data();
    void bannerImage();
    void otherInstance_data();
    void otherInstance();
    void errors_data();
    void errors();
    void markupLoadsNothing_data();
    void markupLoadsNothing();
    void cancelledUpdateOffersRestart();
    void versionQueryAsksRetryOrAbort_data();
    void versionQueryAsksRetryOrAbort();
    void changelogButtonAsksForTheTargetVersion();
    void clientStartAfterSuccess_data();
    void clientStartAfterSuccess();
    void germanTexts();
    void keepsItsSize_data();
    void keepsItsSize();

private:
    template<typename T>
    T* widget(const char* name) const
    {
        T* found = window->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no widget %s", name);
        return found;
    }
    QString clientStartedMarker() const { return clientDir->filePath(QStringLiteral("client-started")); }

    std::unique_ptr<QTemporaryDir> clientDir;
    std::unique_ptr<Configuration> configuration;
    std::unique_ptr<MainWindow> window;
};

void TestMainWindow::initTestCase()
{
    // Keep the banner query on loopback, at a port where nobody answers.
    qputenv("CORVANE_BANNER_SERVER", "127.0.0.1:9");
    // Only the window may end the event loop; closing the last window must not.
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestMainWindow::init()
{
    clientDir = std::make_unique<QTemporaryDir>();
    QVERIFY(clientDir->isValid());
    Configuration::setAppRootPathOverride(clientDir->path());
    // The client's start script leaves a mark, so a test sees that it ran.
    const QString script = clientDir->filePath(Configuration::getClientBinaryName());
    QVERIFY(TestFiles::write(script, "#!/bin/sh\ntouch \"$(dirname \"$0\")/client-started\"\n"));
    QVERIFY(QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner));

    configuration = std::make_unique<Configuration>();
    configuration->setClientType(QStringLiteral("client_linux_amd64"));
    configuration->setClientVersion(1234);
    configuration->setVersionString(QStringLiteral("1.2.34"));
    window = std::make_unique<MainWindow>(*configuration);
    window->setUIToConfigSpecs();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestMainWindow::cleanup()
{
    delete ChangeLogViewer::instance();
    window.reset();
    configuration.reset();
    if (QTest::currentTestFailed())
        clientDir->setAutoRemove(false);
    clientDir.reset();
    Configuration::setAppRootPathOverride(QString());
}

void TestMainWindow::downloadProgress_data()
{
    QTest::addColumn<quint64>("done");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<quint64>("speed");
    QTest::addColumn<QString>("doneText");
    QTest::addColumn<QString>("totalText");
    QTest::addColumn<QString>("speedText");

    QTest::newRow("999 bytes are 0 KB") << quint64(999) << quint64(999) << quint64(999) << "0 KB"
                                        << "0 KB"
                                        << "0 KB/s";
    QTest::newRow("1023 bytes are 1 KB, not 0") << quint64(1023) << quint64(1024) << quint64(1000) << "1 KB"
                                                << "1 KB"
                                                << "1 KB/s";
    QTest::newRow("thousands, not 1024s")
        << quint64(2048000) << quint64(10240000) << quint64(1500999) << "2048 KB"
        << "10240 KB"
        << "1500 KB/s";
    QTest::newRow("beyond 4 GB") << quint64(5000000000) << quint64(6000000000) << quint64(0) << "5000000 KB"
                                 << "6000000 KB"
                                 << "0 KB/s";
}

void TestMainWindow::downloadProgress()
{
    QFETCH(quint64, done);
    QFETCH(quint64, total);
    QFETCH(quint64, speed);
    QFETCH(QString, doneText);
    QFETCH(QString, totalText);
    QFETCH(QString, speedText);

    const QList<QLabel*> labels {widget<QLabel>("totalSizeLabel"), widget<QLabel>("totalTotalSizeLabel"),
        widget<QLabel>("downloadSpeedLabel"), widget<QLabel>("sizeSeparatorLabel")};
    for (QLabel* label : labels)
        QVERIFY2(!label->isVisible(), "hidden before any transfer");

    window->onDownloadProgress(done, total, speed, true);
    for (QLabel* label : labels)
        QVERIFY(label->isVisible());
    QCOMPARE(labels[0]->text(), doneText);
    QCOMPARE(labels[1]->text(), totalText);
    QCOMPARE(labels[2]->text(), speedText);

    window->onDownloadProgress(done, total, speed, false);
    for (QLabel* label : labels)
        QVERIFY2(!label->isVisible(), "hidden when no transfer runs");
}

void TestMainWindow::detailsShowTheEndOfTheLog()
{
    auto* log = widget<QTextEdit>("outputTextEdit");
    auto* details = widget<QPushButton>("detailsButton");
    for (int i = 0; i < 60; ++i)
        window->onAppendText(QStringLiteral("line %1").arg(i));
    QVERIFY(!log->isVisible());

    QTest::mouseClick(details, Qt::LeftButton);
    QVERIFY(log->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(log->verticalScrollBar()->maximum() > 0, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum(), 2000);
    QVERIFY(log->toPlainText().endsWith(QLatin1String("line 59")));

    QTest::mouseClick(details, Qt::LeftButton);
    QVERIFY(!log->isVisible());
}

void TestMainWindow::aLongLogKeepsItsLatestLines()
{
    // A release of many files logs lines by the hundred thousand; the window
    // keeps the latest ones, in order, and drops the oldest in bulk.
    auto* log = widget<QTextEdit>("outputTextEdit");
    for (int i = 0; i < 16000; ++i)
        window->onAppendText(QStringLiteral("line %1").arg(i));
    const QStringList lines = log->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 11000);
    QCOMPARE(lines.first(), QStringLiteral("line 5000"));
    QCOMPARE(lines.last(), QStringLiteral("line 15999"));
    QVERIFY(!log->document()->isUndoAvailable());
}

void TestMainWindow::bannerImage_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QString>("clickUrl");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("linked");

    const QString web = QStringLiteral("https://ads.example:8443/click?id=7");
    QTest::newRow("PNG image") << pngImage() << web << true << true;
    QTest::newRow("bytes that are no image")
        << QByteArray("<html>not an image</html>") << web << false << false;
    QTest::newRow("truncated PNG") << pngImage().left(40) << web << false << false;
    QTest::newRow("nothing") << QByteArray() << web << false << false;
    // The banner service is anyone on the network.
    QTest::newRow("a click target that is no web address: the image, no link")
        << pngImage() << "file:///etc/passwd" << true << false;
}

void TestMainWindow::bannerImage()
{
    QFETCH(QByteArray, image);
    QFETCH(QString, clickUrl);
    QFETCH(bool, shown);
    QFETCH(bool, linked);

    auto* banner = widget<UrlClickLabel>("banner");
    window->onBannerFound(image, clickUrl);
    QCOMPARE(!banner->pixmap().isNull(), shown);
    if (shown)
        QCOMPARE(banner->pixmap().size(), QSize(468, 60));
    if (linked) {
        QCOMPARE(banner->getUrl(), clickUrl);
        QCOMPARE(banner->toolTip(), QStringLiteral("Click to open \"https://ads.example\""));
    } else {
        QVERIFY(banner->getUrl().isEmpty());
        QVERIFY(banner->toolTip().isEmpty());
    }
}

void TestMainWindow::otherInstance_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("raised");

    QTest::newRow("# raises") << "#" << true;
    QTest::newRow("## does not") << "##" << false;
    QTest::newRow("# with a line break does not") << "#\n" << false;
    QTest::newRow("empty does not") << "" << false;
    QTest::newRow("other text does not") << "raise" << false;
}

void TestMainWindow::otherInstance()
{
    QFETCH(QString, message);
    QFETCH(bool, raised);

    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    other.activateWindow();
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), &other, 2000);

    window->onOtherInstanceActivate(message);
    if (raised) {
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), window.get(), 2000);
    } else {
        QTest::qWait(200); // activation is asynchronous; give a wrong one the chance to show
        QCOMPARE(QApplication::activeWindow(), &other);
    }
}

void TestMainWindow::errors_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("exitCode"); // -1: the event loop goes on
    QTest::addColumn<bool>("logged");

    QTest::newRow("error informs and logs") << "error" << -1 << true;
    QTest::newRow("engine fatal error ends with 2") << "engine" << 2 << false;
    QTest::newRow("configuration fatal error ends with 1") << "configuration" << 1 << false;
}

void TestMainWindow::errors()
{
    QFETCH(QString, kind);
    QFETCH(int, exitCode);
    QFETCH(bool, logged);

    const QString text = QStringLiteral("Disk on fire");
    MessageBoxCatcher catcher;
    QTimer::singleShot(0, window.get(), [&] {
        if (kind == QLatin1String("error"))
            window->onError(text);
        else if (kind == QLatin1String("engine"))
            window->onFatalError(text);
        else
            emit configuration->fatalError(text);
        // An error that is not fatal leaves the loop running; end it here.
        QTimer::singleShot(500, qApp, [] { QApplication::exit(-1); });
    });
    QCOMPARE(QApplication::exec(), exitCode);

    QCOMPARE(catcher.titles, QStringList {QStringLiteral("Error")});
    QCOMPARE(catcher.texts, QStringList {text});
    QCOMPARE(widget<QTextEdit>("outputTextEdit")->toPlainText().contains(text), logged);
}

void TestMainWindow::markupLoadsNothing_data()
{
    QTest::addColumn<QString>("place");

    QTest::newRow("news in the ticker") << "news";
    QTest::newRow("the version's display text") << "display text";
    QTest::newRow("a line of the details log") << "log";
    QTest::newRow("an error box") << "error";
}

void TestMainWindow::markupLoadsNothing()
{
    QFETCH(QString, place);
    // Texts from the command line, a datagram or a mirror that name files
    // to show: an image, a style sheet, backgrounds. Read, "/dev/zero" in
    // their place would allocate until the window dies.
    QTemporaryDir resources;
    for (const char* name : {"picture.png", "style.css", "background.png", "table.png"})
        QVERIFY(TestFiles::write(resources.filePath(QLatin1String(name)), pngImage()));
    const QString markup =
        QStringLiteral("<img src=\"%1/picture.png\"><b>Bold</b> "
                       "<link rel=\"stylesheet\" href=\"%1/style.css\">"
                       "<span style=\"background-image:url(%1/background.png)\">news</span>"
                       "<table background=\"file://%1/table.png\"><tr><td>cell</td></tr></table>")
            .arg(resources.path());
    OpenWatcher watcher(resources.path());
    QVERIFY(watcher.isWatching());
    auto* log = widget<QTextEdit>("outputTextEdit");
    log->show();

    if (place == QLatin1String("news")) {
        configuration->setNews(markup);
        window->setNews();
    } else if (place == QLatin1String("display text")) {
        configuration->setVersionString(markup);
        window->setUIToConfigSpecs();
    } else if (place == QLatin1String("log")) {
        window->onAppendText(markup);
    } else {
        MessageBoxCatcher catcher;
        window->onError(markup);
        QCOMPARE(catcher.texts, QStringList {markup});
    }
    window->grab();

    QCOMPARE(watcher.opened(), QStringList());
    // Where a text is shown as text, its markup shows as written.
    if (place == QLatin1String("log") || place == QLatin1String("error"))
        QVERIFY(log->toPlainText().endsWith(markup));
    if (place == QLatin1String("display text"))
        QVERIFY(widget<QLabel>("versionLabel")->text().contains(markup.toHtmlEscaped()));
}

void TestMainWindow::cancelledUpdateOffersRestart()
{
    auto* start = widget<QPushButton>("startButton");
    auto* progress = widget<QProgressBar>("totalProgressBar");
    window->onProgressUpdate(0.4567);
    QCOMPARE(progress->value(), 456);
    start->setEnabled(false);

    MessageBoxCatcher catcher;
    window->onUpdateCanceled();
    QCOMPARE(start->text(), QStringLiteral("Restart"));
    QVERIFY(start->isEnabled());
    QCOMPARE(progress->value(), 0);
    QVERIFY(widget<QTextEdit>("outputTextEdit")->toPlainText().endsWith(QLatin1String("Update cancelled")));
    QCOMPARE(catcher.titles, QStringList {QStringLiteral("Update")});
    QCOMPARE(
        catcher.texts, QStringList {QStringLiteral("Update cancelled. Push \"Details\" to check reasons.")});
}

void TestMainWindow::versionQueryAsksRetryOrAbort_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<QString>("version");

    QTest::newRow("Retry asks again until the server answers") << QMessageBox::Retry << 2 << "12345";
    QTest::newRow("Abort gives up after one box") << QMessageBox::Abort << 1 << QString();
}

void TestMainWindow::versionQueryAsksRetryOrAbort()
{
    QFETCH(QMessageBox::StandardButton, answer);
    UdpResponder server;
    QVERIFY(server.start());
    server.setReply(QByteArray("3\0", 2), "12345#3.0.1");
    server.setReply(QByteArray("*\0", 2), "news");
    // Name resolution fails at once, so a failed query costs no time-out.
    qputenv("CORVANE_UPDATE_SERVER", "nohost.invalid");
    MessageBoxCatcher catcher(answer);
    catcher.beforeAnswer = [&](const QString&) {
        if (catcher.texts.size() == 2)
            qputenv("CORVANE_UPDATE_SERVER", server.hostAndPort().toUtf8());
    };

    QString news;
    const QPair<QString, QString> latest = configuration->getLatestClientVersion(Stable, news);
    qunsetenv("CORVANE_UPDATE_SERVER");
    QTEST(latest.first, "version");
    QFETCH(int, boxes);
    QCOMPARE(catcher.titles, QStringList(boxes, QStringLiteral("Error")));
    // The box names the server and port it could not reach.
    QCOMPARE(catcher.texts,
        QStringList(boxes,
            QStringLiteral("Failed to query latest client\nversion from update server\nnohost.invalid, UDP "
                           "port 17384.")));
}

void TestMainWindow::changelogButtonAsksForTheTargetVersion()
{
    TestHttpServer server;
    QVERIFY(server.listen());
    server.setAnswer(
        QStringLiteral("/m0/1234/changelog_client.txt"), TestHttpServer::Answer::ok("Changes\n"));
    QVERIFY(TestFiles::write(clientDir->filePath(QStringLiteral("mirrors.ini")),
        MirrorsFixture::ini({{QStringLiteral("m0"), server.baseUrl() + QStringLiteral("/m0")}})));

    auto* button = widget<QPushButton>("changelogButton");
    QTest::mouseClick(button, Qt::LeftButton);
    ChangeLogViewer* viewer = ChangeLogViewer::instance();
    QVERIFY(viewer);
    QCOMPARE(viewer->parentWidget(), window.get());
    auto* text = viewer->findChild<QTextEdit*>(QStringLiteral("changeLogTextEdit"));
    QTRY_COMPARE_WITH_TIMEOUT(text->toPlainText(), QStringLiteral("Changes\n"), 5000);

    // Pressing again only brings the open viewer forward.
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(ChangeLogViewer::instance(), viewer);
    QCOMPARE(server.requestedPaths(), QStringList {QStringLiteral("/m0/1234/changelog_client.txt")});
}

void TestMainWindow::clientStartAfterSuccess_data()
{
    QTest::addColumn<Configuration::RunMode>("runMode");
    QTest::addColumn<bool>("viewerOpen");
    QTest::addColumn<bool>("startsByItself");

    QTest::newRow("unattended starts the client") << Configuration::RunMode::Unattended << false << true;
    QTest::newRow("unattended waits while the change log is open")
        << Configuration::RunMode::Unattended << true << false;
    QTest::newRow("interactive waits for the button")
        << Configuration::RunMode::Interactive << false << false;
}

void TestMainWindow::clientStartAfterSuccess()
{
    QFETCH(Configuration::RunMode, runMode);
    QFETCH(bool, viewerOpen);
    QFETCH(bool, startsByItself);

    configuration->setRunMode(runMode);
    window->setUIToConfigSpecs();
    auto* start = widget<QPushButton>("startButton");
    QCOMPARE(start->isEnabled(), runMode == Configuration::RunMode::Interactive);
    if (viewerOpen)
        window->on_changelogButton_clicked();

    window->onUpdateFinished();
    QCOMPARE(start->text(), QStringLiteral("Start Corvane"));
    QVERIFY(start->isEnabled());
    QVERIFY(start->hasFocus());

    if (startsByItself) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(clientStartedMarker()), 5000);
        QVERIFY(!window->isVisible());
        return;
    }
    // The automatic start would come after one second; allow it twice that.
    QTest::qWait(2000);
    QVERIFY(!QFile::exists(clientStartedMarker()));
    QVERIFY(window->isVisible());

    // The button starts the client and closes the window.
    QTest::mouseClick(start, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(clientStartedMarker()), 5000);
    QVERIFY(!window->isVisible());
}

void TestMainWindow::germanTexts()
{
    QTranslator german;
    QVERIFY(german.load(QStringLiteral(":/i18n/update_de")));
    QCoreApplication::installTranslator(&german);
    MainWindow translated(*configuration);
    translated.setUIToConfigSpecs();
    translated.onUpdateFinished();
    QCoreApplication::removeTranslator(&german);

    const auto text = [&](const char* name) {
        return translated.findChild<QPushButton*>(QLatin1String(name))->text();
    };
    QCOMPARE(text("startButton"), QStringLiteral("Corvane starten"));
    QCOMPARE(text("changelogButton"), QStringLiteral("\u00c4nderungen"));
    QCOMPARE(text("detailsButton"), QStringLiteral("Details"));
    QCOMPARE(translated.findChild<QLabel*>(QStringLiteral("versionLabel"))->text(),
        QStringLiteral(
            "<div style=\"font-weight:bold;font-size:14px\">Update auf Corvane 1.2.34.</div>"
            "<div style=\"margin-top:8px\">Sie benutzen den <strong>Stable Channel</strong>.</div>"));
    QCOMPARE(translated.windowTitle(), QStringLiteral("Corvane Client Aktualisierung"));
}

void TestMainWindow::keepsItsSize_data()
{
    QTest::addColumn<bool>("german");
    QTest::addColumn<QString>("news");
    QTest::addColumn<bool>("banner");
    QTest::addColumn<bool>("details");
    QTest::addColumn<bool>("cancelled");

    const QString longNews =
        QStringLiteral("<b>Corvane 2.0 is out:</b> <a href=\"https://news.example/2.0\">level two, a new "
                       "manual and a great many fixes</a>, read all about it before you play +++ "
                       "next tournament on Saturday +++");
    QTest::newRow("no news, no banner, finished") << false << "" << false << false << false;
    QTest::newRow("short news, banner, finished") << false << "New!" << true << false << false;
    QTest::newRow("long news, banner, details open, finished") << false << longNews << true << true << false;
    QTest::newRow("long news, no banner, cancelled") << false << longNews << false << false << true;
    QTest::newRow("German, short news, details open, cancelled") << true << "Neu!" << true << true << true;
    QTest::newRow("German, long news, banner, finished") << true << longNews << true << false << false;
}

// Drives the window through an update with its public slots and checks after
// every step that it is exactly as large as when it was shown. Only the
// details log may change the height, once, when the user opens it.
void TestMainWindow::keepsItsSize()
{
    QFETCH(bool, german);
    QFETCH(QString, news);
    QFETCH(bool, banner);
    QFETCH(bool, details);
    QFETCH(bool, cancelled);

    QTranslator translator;
    if (german) {
        QVERIFY(translator.load(QStringLiteral(":/i18n/update_de")));
        QCoreApplication::installTranslator(&translator);
    }
    window = std::make_unique<MainWindow>(*configuration);
    window->setUIToConfigSpecs();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCoreApplication::processEvents();
    QSize shown = window->size();

    // Every step is checked, so one failure lists all the steps that moved the window.
    QStringList changes;
    const auto step = [&](const QString& name, const std::function<void()>& action) {
        action();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
        if (window->size() != shown)
            changes << QStringLiteral("%1: %2 x %3 instead of %4 x %5")
                           .arg(name)
                           .arg(window->width())
                           .arg(window->height())
                           .arg(shown.width())
                           .arg(shown.height());
    };

    configuration->setNews(news);
    step(QStringLiteral("news"), [&] { window->setNews(); });
    if (banner)
        step(QStringLiteral("banner"),
            [&] { window->onBannerFound(pngImage(), QStringLiteral("https://ads.example/")); });
    if (details) {
        QTest::mouseClick(widget<QPushButton>("detailsButton"), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
        QCOMPARE(window->width(), shown.width());
        QVERIFY(window->height() > shown.height());
        shown = window->size();
    }

    step(QStringLiteral("start"), [&] { widget<QPushButton>("startButton")->setEnabled(false); });
    struct Figures {
        quint64 done, total, speed;
        bool downloading;
    };
    // Up to the widest figures the window makes room for: almost 10 GB at almost 10 GB/s.
    const QList<Figures> figures {{0, 0, 0, true}, {999, 1000, 999, true}, {1234567, 98765432, 1500999, true},
        {99999999, 999999999, 25000000, true}, {9999999999, 9999999999, 9999999999, true},
        {9999999999, 9999999999, 0, false}};
    for (const Figures& f : figures)
        step(QStringLiteral("%1 of %2 bytes at %3 B/s").arg(f.done).arg(f.total).arg(f.speed), [&] {
            window->onProgressUpdate(qreal(f.done) / qMax<quint64>(f.total, 1));
            window->onAppendText(QStringLiteral("Downloading client/data/levels/level%1.dat").arg(f.done));
            window->onDownloadProgress(f.done, f.total, f.speed, f.downloading);
        });

    MessageBoxCatcher catcher;
    if (cancelled)
        step(QStringLiteral("cancelled"), [&] { window->onUpdateCanceled(); });
    else
        step(QStringLiteral("finished"), [&] { window->onUpdateFinished(); });

    QVERIFY2(changes.isEmpty(), qPrintable(changes.join(QLatin1Char('\n'))));

    // The banner sits in the middle at its own size, whatever the window's width.
    const QRect bannerRect = widget<QLabel>("banner")->geometry();
    QCOMPARE(bannerRect.size(), QSize(468, 60));
    QVERIFY(qAbs(bannerRect.center().x() - window->rect().center().x()) <= 1);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
