// The change log viewer against a loopback web server: which candidates it
// asks and how often, what counts as a failed mirror, the time-out, the size
// of the dialog, that only one viewer exists, and that a log is plain text
// of at most 1 MiB.
#include <QFontMetrics>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include "app/configuration.h"
#include "buildconfig.h"
#include "mirrorsfixture.h"
#include "openwatcher.h"
#include "processmemory.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "ui/changelogviewer.h"

namespace {

const QString version = QStringLiteral("1234");
const QByteArray changeLog = "Corvane 1234\n- faster start\n- fewer crashes\n";
const QString failureText = QStringLiteral("Failed to load changelog.");

QString logPath(const QString& mirror)
{
    return QLatin1Char('/') + mirror + QLatin1Char('/') + version + QStringLiteral("/changelog_client.txt");
}

QString shownText(const ChangeLogViewer& viewer)
{
    return viewer.findChild<QTextEdit*>(QStringLiteral("changeLogTextEdit"))->toPlainText();
}

} // namespace

class TestChangeLogViewer : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void candidates_data();
    void candidates();
    void sizeFollowsLongestLine_data();
    void sizeFollowsLongestLine();
    void oneViewerAtATime();
    void plainTextOfAtMostOneMebibyte_data();
    void plainTextOfAtMostOneMebibyte();

private:
    // Answers the change log request of mirror as kind says: "ok", "404",
    // "moved page", "moved redirect", "other redirect", "slow".
    void script(const QString& mirror, const QString& kind);

    QTemporaryDir* clientDir = nullptr;
    TestHttpServer* server = nullptr;
};

void TestChangeLogViewer::init()
{
    clientDir = new QTemporaryDir;
    QVERIFY(clientDir->isValid());
    Configuration::setAppRootPathOverride(clientDir->path());
    server = new TestHttpServer;
    QVERIFY(server->listen());
}

void TestChangeLogViewer::cleanup()
{
    delete ChangeLogViewer::instance();
    delete server;
    if (QTest::currentTestFailed())
        clientDir->setAutoRemove(false);
    delete clientDir;
    Configuration::setAppRootPathOverride(QString());
}

void TestChangeLogViewer::script(const QString& mirror, const QString& kind)
{
    using Answer = TestHttpServer::Answer;
    const QString path = logPath(mirror);
    if (kind == QLatin1String("ok")) {
        server->setAnswer(path, Answer::ok(changeLog));
    } else if (kind == QLatin1String("moved page")) {
        server->setAnswer(path, Answer::ok("<html><body>The document has moved here.</body></html>"));
    } else if (kind == QLatin1String("moved redirect")) {
        Answer answer = Answer::redirect(301, server->baseUrl().toUtf8() + "/elsewhere/changelog_client.txt");
        answer.body =
            "<html><body><p>The document has moved <a href=\"/elsewhere\">here</a>.</p></body></html>";
        server->setAnswer(path, answer);
    } else if (kind == QLatin1String("slow")) {
        Answer answer = Answer::ok(changeLog);
        answer.headerDelayMs = 4000;
        server->setAnswer(path, answer);
    }
    // "404" and mirrors without an address need no answer: unknown paths get 404.
}

void TestChangeLogViewer::candidates_data()
{
    QTest::addColumn<QString>("alpha"); // kind of the alpha mirror; empty: update.ini has no alpha URL
    QTest::addColumn<QStringList>(
        "mirrors"); // kinds of the mirrors.ini entries; "no url", "no group" have none
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("shown");

    const QString log = QString::fromUtf8(changeLog);
    QTest::newRow("alpha URL alone, working") << "ok" << QStringList {"ok"} << 1 << log;
    QTest::newRow("alpha URL tried once, mirrors.ini never read")
        << "404" << QStringList {"ok", "ok"} << 1 << failureText;
    QTest::newRow("three failing mirrors") << "" << QStringList {"404", "404", "404"} << 3 << failureText;
    QTest::newRow("document has moved counts as failure")
        << "" << QStringList {"moved page", "404"} << 2 << failureText;
    QTest::newRow("redirect with a moved page is not followed")
        << "" << QStringList {"moved redirect"} << 1 << failureText;
    QTest::newRow("failures then a working mirror")
        << "" << QStringList {"404", "moved page", "ok"} << -1 << log;
    QTest::newRow("slow mirror abandoned, next one delivers") << "" << QStringList {"slow", "ok"} << 2 << log;
    QTest::newRow("mirrors without an address are skipped")
        << "" << QStringList {"no url", "ok", "no group"} << 1 << log;
    QTest::newRow("no update.ini alpha and no mirrors.ini") << "" << QStringList() << 0 << failureText;
}

void TestChangeLogViewer::candidates()
{
    QFETCH(QString, alpha);
    QFETCH(QStringList, mirrors);
    QFETCH(int, requests);
    QFETCH(QString, shown);

    const QString root = clientDir->path();
    if (!alpha.isEmpty()) {
        script(QStringLiteral("alpha"), alpha);
        QVERIFY(TestFiles::write(
            root + "/update.ini", "[Channel]\nalpha=" + server->baseUrl().toUtf8() + "/alpha\n"));
    } else {
        QVERIFY(TestFiles::write(root + "/update.ini", "[update]\nstreams=2\n"));
    }
    if (!mirrors.isEmpty()) {
        QList<MirrorsFixture::Entry> entries;
        for (int i = 0; i < mirrors.size(); ++i) {
            const QString name = QStringLiteral("m%1").arg(i);
            const bool hasUrl = !mirrors[i].startsWith(QLatin1String("no "));
            // Every other base carries a trailing slash, which must not double.
            entries.append({name,
                hasUrl ? server->baseUrl() + QLatin1Char('/') + name + (i % 2 ? "/" : "") : QString()});
            script(name, mirrors[i]);
        }
        QByteArray ini = MirrorsFixture::ini(entries);
        for (int i = 0; i < mirrors.size(); ++i)
            if (mirrors[i] == QLatin1String("no group"))
                ini.replace("\n[m" + QByteArray::number(i) + "]\nurl=\n", "");
        QVERIFY(TestFiles::write(root + "/mirrors.ini", ini));
    }
    // The first draw takes the first listed mirror, so the slow one goes first.
    MirrorsFixture::seedForDraw(0, qMax(1, int(mirrors.size())));

    ChangeLogViewer::showRemoteChangeLogDialog(nullptr, version);
    ChangeLogViewer* viewer = ChangeLogViewer::instance();
    QVERIFY(viewer);
    QTRY_COMPARE_WITH_TIMEOUT(shownText(*viewer), shown, 8000);

    const QStringList paths = server->requestedPaths();
    if (requests >= 0)
        QCOMPARE(paths.size(), requests);
    // Every candidate at most once, and nothing but change logs asked for.
    QCOMPARE(QSet<QString>(paths.begin(), paths.end()).size(), paths.size());
    for (const QString& path : paths)
        QVERIFY2(path.endsWith(QLatin1String("/1234/changelog_client.txt")) && !path.contains("//"),
            qPrintable(path));
    for (const TestHttpServer::Request& request : server->requests())
        QCOMPARE(request.header("User-Agent"), QByteArray("CorvaneUpdater/" CORVANE_VERSION));
    if (alpha.isEmpty() && !paths.isEmpty())
        QVERIFY(!paths.contains(logPath(QStringLiteral("alpha"))));
    else if (!alpha.isEmpty())
        QCOMPARE(paths, QStringList {logPath(QStringLiteral("alpha"))});
}

void TestChangeLogViewer::sizeFollowsLongestLine_data()
{
    QTest::addColumn<int>("lineWidth"); // approximate pixels of the longest line; 0: only empty lines
    QTest::addColumn<bool>("wider"); // the line is wider than the screen

    QTest::newRow("700-pixel line") << 700 << false;
    QTest::newRow("line wider than the screen") << 5000 << true;
    QTest::newRow("only empty lines") << 0 << false;
}

void TestChangeLogViewer::sizeFollowsLongestLine()
{
    QFETCH(int, lineWidth);
    QFETCH(bool, wider);

    ChangeLogViewer viewer;
    const QFontMetrics metrics(viewer.findChild<QTextEdit*>(QStringLiteral("changeLogTextEdit"))->font());
    QString longest;
    while (metrics.horizontalAdvance(longest + QLatin1Char('x')) <= lineWidth)
        longest += QLatin1Char('x');
    const int advance = metrics.horizontalAdvance(longest);
    QVERIFY(lineWidth - advance <= metrics.horizontalAdvance(QLatin1Char('x')));

    viewer.load(lineWidth > 0 ? QStringLiteral("short\n\n") + longest + QStringLiteral("\nshort again\n")
                              : QStringLiteral("\n\n\n"));

    const QRect available = viewer.screen()->availableGeometry();
    QVERIFY2(available.width() > 750 && available.height() > 500, "the test screen is too small");
    const int expectedWidth = wider ? available.width() : (lineWidth > 0 ? advance + 50 : 500);
    QCOMPARE(viewer.width(), expectedWidth);
    QCOMPARE(viewer.height(), 500);
}

void TestChangeLogViewer::oneViewerAtATime()
{
    script(QStringLiteral("m0"), QStringLiteral("ok"));
    QVERIFY(TestFiles::write(clientDir->path() + "/mirrors.ini",
        MirrorsFixture::ini({{QStringLiteral("m0"), server->baseUrl() + "/m0"}})));

    ChangeLogViewer::showRemoteChangeLogDialog(nullptr, version);
    ChangeLogViewer* first = ChangeLogViewer::instance();
    QVERIFY(first);
    ChangeLogViewer::showRemoteChangeLogDialog(nullptr, QStringLiteral("999"));
    QCOMPARE(ChangeLogViewer::instance(), first);
    QTRY_COMPARE_WITH_TIMEOUT(shownText(*first), QString::fromUtf8(changeLog), 5000);
    QCOMPARE(server->requestedPaths(), QStringList {logPath(QStringLiteral("m0"))});

    // Closing destroys the viewer; the next one reads the mirror list anew.
    first->close();
    QTRY_VERIFY_WITH_TIMEOUT(!ChangeLogViewer::instance(), 5000);
    ChangeLogViewer::showRemoteChangeLogDialog(nullptr, version);
    QVERIFY(ChangeLogViewer::instance());
    QTRY_COMPARE_WITH_TIMEOUT(shownText(*ChangeLogViewer::instance()), QString::fromUtf8(changeLog), 5000);
    QCOMPARE(server->requestCount(logPath(QStringLiteral("m0"))), 2);
}

void TestChangeLogViewer::plainTextOfAtMostOneMebibyte_data()
{
    QTest::addColumn<QString>("kind"); // "markup", "lines", "endless"

    QTest::newRow("markup shows as written and loads nothing") << "markup";
    QTest::newRow("a log beyond 1 MiB is cut at a line break") << "lines";
    QTest::newRow("256 MiB are not fetched for 1 MiB shown") << "endless";
}

void TestChangeLogViewer::plainTextOfAtMostOneMebibyte()
{
    QFETCH(QString, kind);
    const QString cutLine = QStringLiteral("[The change log is longer than 1 MiB and was cut here.]");
    QTemporaryDir resources;
    QVERIFY(TestFiles::write(resources.filePath("picture.png"), "not read"));
    OpenWatcher watcher(resources.path());
    QVERIFY(watcher.isWatching());

    QByteArray log;
    QString expected;
    if (kind == QLatin1String("markup")) {
        log = QStringLiteral("<h1>Corvane</h1><img src=\"%1/picture.png\">\n- fixes\n")
                  .arg(resources.path())
                  .toUtf8();
        expected = QString::fromUtf8(log);
        server->setAnswer(logPath("m0"), TestHttpServer::Answer::ok(log));
    } else if (kind == QLatin1String("lines")) {
        for (int i = 0; log.size() < 3 * ChangeLogViewer::maxChangeLogBytes / 2; ++i)
            log += "- change number " + QByteArray::number(i) + '\n';
        QByteArray shown = log.left(ChangeLogViewer::maxChangeLogBytes);
        shown.truncate(shown.lastIndexOf('\n') + 1);
        expected = QString::fromUtf8(shown) + cutLine;
        server->setAnswer(logPath("m0"), TestHttpServer::Answer::ok(log));
    } else {
        server->setAnswer(logPath("m0"), TestHttpServer::Answer::generated(256 * 1024 * 1024));
    }
    QVERIFY(TestFiles::write(clientDir->path() + "/mirrors.ini",
        MirrorsFixture::ini({{QStringLiteral("m0"), server->baseUrl() + "/m0"}})));
    ProcessMemory::resetPeak();
    const qint64 peakBefore = ProcessMemory::statusKiB("VmHWM");

    ChangeLogViewer::showRemoteChangeLogDialog(nullptr, version);
    ChangeLogViewer* viewer = ChangeLogViewer::instance();
    QTRY_VERIFY_WITH_TIMEOUT(shownText(*viewer) != QStringLiteral("Loading..."), 10000);
    viewer->grab();

    if (kind == QLatin1String("endless")) {
        QVERIFY(shownText(*viewer).endsWith(cutLine));
        // The log as shown, a few times over, is what this may cost.
        const qint64 grownKiB = ProcessMemory::statusKiB("VmHWM") - peakBefore;
        QVERIFY2(grownKiB < 64 * 1024, qPrintable(QString::number(grownKiB)));
    } else {
        QCOMPARE(shownText(*viewer), expected);
    }
    QCOMPARE(server->requestCount(logPath("m0")), 1);
    QCOMPARE(watcher.opened(), QStringList());
}

QTEST_MAIN(TestChangeLogViewer)
#include "tst_changelogviewer.moc"
