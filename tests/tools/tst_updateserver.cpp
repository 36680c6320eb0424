// corvane-updateserver answering the updater's own latest-version query and a
// banner query on loopback, and refusing configurations the updater would
// misread.
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include "app/updatechecker.h"
#include "testfiles.h"
#include "toolprocess.h"
#include "updateserverprocess.h"

namespace {

const QString serverTool = QStringLiteral(CORVANE_UPDATESERVER);

using Entries = QList<QPair<QString, QString>>;

} // namespace

class TestUpdateServer : public QObject {
    Q_OBJECT

private slots:
    void answersTheUpdateChecker_data();
    void answersTheUpdateChecker();
    void answersTheBannerQuery();
    void answersOnlyTheExactRequests_data();
    void answersOnlyTheExactRequests();
    void limitsTheAnswersPerAddress();
    void refusesWhatTheUpdaterWouldMisread_data();
    void refusesWhatTheUpdaterWouldMisread();
};

void TestUpdateServer::answersTheUpdateChecker_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<Entries>("versions");
    QTest::addColumn<QString>("news");

    const QString newsOnTheWire = QStringLiteral("Grüße &#8594; <a href=\"http://news.example/\">Neu</a>");
    QTest::newRow("from options") << QStringList {QStringLiteral("--stable"),
        QStringLiteral("2#Version 2 #demo"), QStringLiteral("--beta"), QStringLiteral("3#3.0 Beta"),
        QStringLiteral("--news-file"), QStringLiteral("news.html")}
                                  << QByteArray()
                                  << Entries {{QStringLiteral("2"), QStringLiteral("Version 2 #demo")},
                                         {QStringLiteral("3"), QStringLiteral("3.0 Beta")}}
                                  << newsOnTheWire;
    QTest::newRow("from an INI file")
        << QStringList {QStringLiteral("--config"), QStringLiteral("server.ini")}
        << QByteArray("[channels]\nstable=2#Version 2 #demo\nbeta=3#3.0 Beta\n[news]\nfile=news.html\n")
        << Entries {{QStringLiteral("2"), QStringLiteral("Version 2 #demo")},
               {QStringLiteral("3"), QStringLiteral("3.0 Beta")}}
        << newsOnTheWire;
    QTest::newRow("options override the INI file")
        << QStringList {QStringLiteral("--config"), QStringLiteral("server.ini"), QStringLiteral("--stable"),
               QStringLiteral("5"), QStringLiteral("--news"), QStringLiteral("plain, with a comma")}
        << QByteArray("[channels]\nstable=2\nbeta=3\n[news]\ntext=old\n")
        << Entries {{QStringLiteral("5"), QString()}, {QStringLiteral("3"), QString()}}
        << QStringLiteral("plain, with a comma");
    QTest::newRow("a channel left out keeps the later ones in place")
        << QStringList {QStringLiteral("--stable"), QStringLiteral("2"), QStringLiteral("--alpha"),
               QStringLiteral("9#nightly")}
        << QByteArray()
        << Entries {{QStringLiteral("2"), QString()}, {QString(), QString()},
               {QStringLiteral("9"), QStringLiteral("nightly")}}
        << QString();
}

void TestUpdateServer::answersTheUpdateChecker()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, ini);
    QFETCH(Entries, versions);
    QFETCH(QString, news);

    QTemporaryDir dir;
    QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("news.html")),
        "Gr\xc3\xbc\xc3\x9f"
        "e \xe2\x86\x92 <a href=\"http://news.example/\">Neu</a>"));
    if (!ini.isEmpty())
        QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("server.ini")), ini));
    for (QString& arg : args) {
        if (arg.endsWith(QStringLiteral(".html")) || arg.endsWith(QStringLiteral(".ini")))
            arg = dir.filePath(arg);
    }

    UpdateServerProcess server;
    QVERIFY2(server.start(serverTool, args), qPrintable(server.errorText()));
    qputenv("CORVANE_UPDATE_SERVER", server.versionServer().toUtf8());
    UpdateChecker checker;
    QVERIFY(checker.checkUpdate());
    QCOMPARE(checker.versions, versions);
    QCOMPARE(checker.newsText, news);

    QCOMPARE(server.stop(), 0);
    const QString log = server.log();
    QVERIFY2(log.contains(QStringLiteral("version: version query from 127.0.0.1:")), qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("version: news query from 127.0.0.1:")), qPrintable(log));
    QVERIFY2(log.trimmed().endsWith(QStringLiteral("stopped")), qPrintable(log));
}

void TestUpdateServer::answersTheBannerQuery()
{
    UpdateServerProcess server;
    QVERIFY2(server.start(serverTool,
                 {QStringLiteral("--stable"), QStringLiteral("2"), QStringLiteral("--banner-image"),
                     QStringLiteral("http://127.0.0.1:8080/banner.png"), QStringLiteral("--banner-click"),
                     QStringLiteral("http://corvane.example/offer")}),
        qPrintable(server.errorText()));
    QUdpSocket socket;
    QVERIFY(socket.bind(QHostAddress::LocalHost, 0));
    // Something else first: logged and left unanswered.
    socket.writeDatagram(QByteArray("\x07", 1), QHostAddress::LocalHost, server.bannerPort());
    socket.writeDatagram(QByteArray("\x01\x01", 2), QHostAddress::LocalHost, server.bannerPort());
    QTRY_VERIFY_WITH_TIMEOUT(socket.hasPendingDatagrams(), 5000);
    QCOMPARE(socket.receiveDatagram().data(),
        QByteArray("http://127.0.0.1:8080/banner.png,http://corvane.example/offer"));
    QVERIFY(!socket.waitForReadyRead(200));

    QCOMPARE(server.stop(), 0);
    const QString log = server.log();
    QVERIFY2(log.contains(QStringLiteral("banner: unknown request 07 from 127.0.0.1:")), qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("not answered")), qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("banner: banner query from 127.0.0.1:")), qPrintable(log));
}

void TestUpdateServer::answersOnlyTheExactRequests_data()
{
    QTest::addColumn<bool>("bannerPort");
    QTest::addColumn<QByteArray>("request");
    // A forged byte or two must not buy an answer many times its size.
    QTest::newRow("a lone star") << false << QByteArray("*");
    QTest::newRow("a star and more") << false << QByteArray("*\0\0", 3);
    QTest::newRow("a three without its zero") << false << QByteArray("3");
    QTest::newRow("the banner query and more") << true << QByteArray("\x01\x01\x01", 3);
}

// The request is followed by an exact one, whose answer must come first.
void TestUpdateServer::answersOnlyTheExactRequests()
{
    QFETCH(bool, bannerPort);
    QFETCH(QByteArray, request);
    UpdateServerProcess server;
    QVERIFY2(server.start(serverTool,
                 {QStringLiteral("--stable"), QStringLiteral("2"), QStringLiteral("--banner-image"),
                     QStringLiteral("http://b.example/b.png"), QStringLiteral("--banner-click"),
                     QStringLiteral("http://c.example/")}),
        qPrintable(server.errorText()));
    const quint16 port = bannerPort ? server.bannerPort() : server.versionPort();
    QUdpSocket socket;
    QVERIFY(socket.bind(QHostAddress::LocalHost, 0));
    socket.writeDatagram(request, QHostAddress::LocalHost, port);
    socket.writeDatagram(
        bannerPort ? QByteArray("\x01\x01", 2) : QByteArray("3\0", 2), QHostAddress::LocalHost, port);
    QTRY_VERIFY_WITH_TIMEOUT(socket.hasPendingDatagrams(), 5000);
    QCOMPARE(socket.receiveDatagram().data(),
        bannerPort ? QByteArray("http://b.example/b.png,http://c.example/") : QByteArray("2"));
}

// Forged sources each get a few answers, then one a second; another address
// keeps its own.
void TestUpdateServer::limitsTheAnswersPerAddress()
{
    UpdateServerProcess server;
    QVERIFY2(server.start(serverTool,
                 {QStringLiteral("--stable"), QStringLiteral("2"), QStringLiteral("--burst"),
                     QStringLiteral("3"), QStringLiteral("--rate"), QStringLiteral("0.001")}),
        qPrintable(server.errorText()));
    QUdpSocket flooding;
    QVERIFY(flooding.bind(QHostAddress::LocalHost, 0));
    QUdpSocket other;
    if (!other.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0))
        QSKIP("no second loopback address here");
    const QByteArray query("3\0", 2);
    for (int i = 0; i < 6; ++i)
        flooding.writeDatagram(query, QHostAddress::LocalHost, server.versionPort());
    // Answered only once all of the flood was seen.
    other.writeDatagram(query, QHostAddress::LocalHost, server.versionPort());
    QTRY_VERIFY_WITH_TIMEOUT(other.hasPendingDatagrams(), 5000);
    QCOMPARE(other.receiveDatagram().data(), QByteArray("2"));

    int answers = 0;
    while (flooding.hasPendingDatagrams()) {
        QCOMPARE(flooding.receiveDatagram().data(), QByteArray("2"));
        ++answers;
    }
    QCOMPARE(answers, 3);
    QCOMPARE(server.stop(), 0);
    QCOMPARE(server.log().count(QStringLiteral("over the rate limit")), 1);
}

void TestUpdateServer::refusesWhatTheUpdaterWouldMisread_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const auto args = [](std::initializer_list<const char*> list) {
        QStringList result;
        for (const char* arg : list)
            result << QString::fromUtf8(arg);
        return result;
    };
    QTest::newRow("comma in a display text")
        << args({"--stable", "2#2.0, final"}) << 3 << "may not contain a comma";
    QTest::newRow("version not a number")
        << args({"--beta", "two"}) << 3 << "The beta version must be a whole number";
    QTest::newRow("display text beyond Latin-1")
        << args({"--stable", "2#\xe2\x86\x92"}) << 3 << "outside Latin-1";
    QTest::newRow("news longer than the updater reads")
        << args({"--stable", "2", "--news", "LONG"}) << 3 << "the updater reads 4095";
    QTest::newRow("banner URL with a comma")
        << args({"--banner-image", "http://a.example/x,y.png", "--banner-click", "http://b.example/"}) << 3
        << "may not contain a comma";
    QTest::newRow("banner without click URL") << args({"--banner-image", "http://a.example/x.png"}) << 3
                                              << "needs both an image URL and a click URL";
    QTest::newRow("news file missing")
        << args({"--news-file", "/nonexistent/news.html"}) << 3 << "Cannot read the news file";
    QTest::newRow("configuration file missing")
        << args({"--config", "/nonexistent/server.ini"}) << 3 << "Configuration file not found";
    QTest::newRow("nothing to answer")
        << args({"--news", "news without a version"}) << 3 << "No channel has a version";
    QTest::newRow("configuration file that does not parse")
        << args({"--config", "ini:[channels]\nstable=2\nthis is no setting\n"}) << 3
        << "Cannot parse the configuration file";
    QTest::newRow("configuration file with a misspelt key")
        << args({"--config", "ini:[channels]\nstabel=2\n"}) << 3 << "Unknown setting channels/stabel";
    QTest::newRow("rate not a number") << args({"--stable", "2", "--rate", "fast"}) << 2
                                       << "--rate takes a number of answers a second above 0";
    QTest::newRow("port out of range") << args({"--version-port", "70000"}) << 2 << "A port is a number";
    QTest::newRow("bind address not an address")
        << args({"--bind", "localhost.example"}) << 2 << "Not an IP address";
    QTest::newRow("unknown option") << args({"--stabel", "2"}) << 2 << "Unknown option 'stabel'";
}

void TestUpdateServer::refusesWhatTheUpdaterWouldMisread()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const qsizetype longNews = args.indexOf(QStringLiteral("LONG"));
    if (longNews >= 0)
        args[longNews] = QString(4096, QLatin1Char('n'));
    // "ini:<text>": a configuration file of that content.
    QTemporaryDir dir;
    for (QString& arg : args) {
        if (arg.startsWith(QStringLiteral("ini:"))) {
            const QString path = dir.filePath(QStringLiteral("server.ini"));
            QVERIFY(TestFiles::write(path, arg.mid(4).toUtf8()));
            arg = path;
        }
    }
    // Free ports, so that a configuration wrongly accepted ends in a bind
    // error or a time-out rather than in a clash with another test.
    for (const QString& port : {QStringLiteral("--version-port"), QStringLiteral("--banner-port")}) {
        if (!args.contains(port))
            args << port << QStringLiteral("0");
    }
    const auto result = ToolProcess::run(serverTool, args, QString(), 10000);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
}

QTEST_GUILESS_MAIN(TestUpdateServer)
#include "tst_updateserver.moc"
