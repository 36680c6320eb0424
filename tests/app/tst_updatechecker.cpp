// The latest-version query against a UDP responder on loopback: the wire
// exchange, reply parsing and cuts, and the failures that end a query.
#include "app/updatechecker.h"
#include "base/serveraddress.h"
#include "udpresponder.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

namespace {

const QByteArray versionRequest("3\0", 2);
const QByteArray newsRequest("*\0", 2);

QStringList flatten(const QList<QPair<QString, QString>>& versions)
{
    QStringList entries;
    for (const auto& entry : versions)
        entries.append(entry.first + QLatin1Char('|') + entry.second);
    return entries;
}

} // namespace

class TestUpdateChecker : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void replies_data();
    void replies();
    void channelEntry_data();
    void channelEntry();
    void exchangeOnTheWire();
    void forgedRepliesAreNeverSeen_data();
    void forgedRepliesAreNeverSeen();
    void retryStartsFromCleanEntries();
    void unresolvableNameFailsAtOnce();
    void noAnswerFailsAfterTheReplyTimeOut();
    void serverAddress_data();
    void serverAddress();
    void serverFromEnvironment();

private:
    UdpResponder m_server;
};

void TestUpdateChecker::initTestCase()
{
    QVERIFY(m_server.start());
}

void TestUpdateChecker::init()
{
    qputenv("CORVANE_UPDATE_SERVER", m_server.hostAndPort().toUtf8());
    m_server.clearReplies();
}

void TestUpdateChecker::replies_data()
{
    QTest::addColumn<QByteArray>("versionReply");
    QTest::addColumn<QByteArray>("newsReply");
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<QString>("news");

    QTest::newRow("entries with and without display text")
        << QByteArray("12345#3.0.1,12400#3.1.0 Beta,12500") << QByteArray("Hello")
        << QStringList {"12345|3.0.1", "12400|3.1.0 Beta", "12500|"} << "Hello";
    QTest::newRow("only the first # separates")
        << QByteArray("7#a#b,8#") << QByteArray() << QStringList {"7|a#b", "8|"} << QString();
    QTest::newRow("two adjacent commas give three empty entries")
        << QByteArray(",,") << QByteArray("n") << QStringList {"|", "|", "|"} << "n";
    QTest::newRow("an empty reply is one empty entry")
        << QByteArray() << QByteArray("n") << QStringList {"|"} << "n";
    QTest::newRow("a zero byte ends each reply")
        << QByteArray("1#a\0,2#b", 8) << QByteArray("top\0hidden", 10) << QStringList {"1|a"} << "top";
    QTest::newRow("replies are Latin-1")
        << QByteArray("1#caf\xe9") << QByteArray("\xfc\x62\x65r")
        << QStringList {QString::fromUtf8("1|caf\u00e9")} << QString::fromUtf8("\u00fcber");
    QTest::newRow("a version reply is cut to 511 bytes")
        << "1#" + QByteArray(598, 'v') << QByteArray("n")
        << QStringList {"1|" + QString(509, QLatin1Char('v'))} << "n";
    QTest::newRow("a news reply of 5000 bytes is cut to 4095")
        << QByteArray("1") << QByteArray(5000, 'n') << QStringList {"1|"} << QString(4095, QLatin1Char('n'));
    QTest::newRow("a news reply of 4095 bytes stays whole")
        << QByteArray("1") << QByteArray(4095, 'n') << QStringList {"1|"} << QString(4095, QLatin1Char('n'));
}

void TestUpdateChecker::replies()
{
    QFETCH(QByteArray, versionReply);
    QFETCH(QByteArray, newsReply);
    m_server.setReply(versionRequest, versionReply);
    m_server.setReply(newsRequest, newsReply);

    UpdateChecker checker;
    QVERIFY(checker.checkUpdate());
    QTEST(flatten(checker.versions), "versions");
    QTEST(checker.newsText, "news");
}

void TestUpdateChecker::channelEntry_data()
{
    QTest::addColumn<QByteArray>("versionReply");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("displayText");

    const QByteArray three("12345#3.0.1,12400#3.1.0 Beta,12500");
    QTest::newRow("stable is the first entry") << three << int(Stable) << "12345"
                                               << "3.0.1";
    QTest::newRow("beta is the second entry") << three << int(Beta) << "12400"
                                              << "3.1.0 Beta";
    QTest::newRow("alpha is the third entry, without display text") << three << int(Alpha) << "12500"
                                                                    << "";
    QTest::newRow("a single entry has nothing for beta") << QByteArray("12345#3.0.1") << int(Beta) << ""
                                                         << "";
}

void TestUpdateChecker::channelEntry()
{
    QFETCH(QByteArray, versionReply);
    QFETCH(int, channel);
    m_server.setReply(versionRequest, versionReply);
    m_server.setReply(newsRequest, "n");

    UpdateChecker checker;
    QVERIFY(checker.checkUpdate());
    const QPair<QString, QString> entry =
        checker.getClientVersionByChannel(static_cast<UpdateChannel>(channel));
    QTEST(entry.first, "version");
    QTEST(entry.second, "displayText");
}

void TestUpdateChecker::exchangeOnTheWire()
{
    m_server.setReply(versionRequest, "1");
    m_server.setReply(newsRequest, "n");
    const qsizetype before = m_server.requests().size();

    UpdateChecker checker;
    QVERIFY(checker.checkUpdate());
    const QList<QByteArray> requests = m_server.requests().mid(before);
    QCOMPARE(requests, (QList<QByteArray> {versionRequest, newsRequest}));
    const QList<quint16> ports = m_server.requestPorts().mid(before);
    QCOMPARE(ports.at(0), ports.at(1));
}

void TestUpdateChecker::forgedRepliesAreNeverSeen_data()
{
    QTest::addColumn<QByteArray>("forgerHost");
    QTest::addColumn<bool>("serverAnswers");

    QTest::newRow("from another port of the server's address, before the server's reply")
        << QByteArray("127.0.0.1") << true;
    QTest::newRow("from another address, before the server's reply") << QByteArray("127.0.0.2") << true;
    QTest::newRow("a forged reply alone is no reply") << QByteArray("127.0.0.2") << false;
}

// Someone who sees the requests answers first, naming an old version and
// news of their own: the checker must hear the server alone.
void TestUpdateChecker::forgedRepliesAreNeverSeen()
{
    QFETCH(QByteArray, forgerHost);
    QFETCH(bool, serverAnswers);
    m_server.setForgery(versionRequest, "1#1.0 with known holes", forgerHost);
    m_server.setForgery(newsRequest, "<a href=\"http://evil.example/\">Update now</a>", forgerHost);
    if (serverAnswers) {
        m_server.setReply(versionRequest, "5#5.0");
        m_server.setReply(newsRequest, "n");
    }

    UpdateChecker checker;
    checker.setReplyTimeout(300);
    QCOMPARE(checker.checkUpdate(), serverAnswers);
    QCOMPARE(flatten(checker.versions), serverAnswers ? QStringList {"5|5.0"} : QStringList());
    QCOMPARE(checker.newsText, serverAnswers ? QStringLiteral("n") : QString());
}

void TestUpdateChecker::retryStartsFromCleanEntries()
{
    m_server.setReply(versionRequest, "1#a,2#b");
    m_server.setReply(newsRequest, "n");

    UpdateChecker checker;
    QVERIFY(checker.checkUpdate());
    QVERIFY(checker.checkUpdate());
    QCOMPARE(flatten(checker.versions), (QStringList {"1|a", "2|b"}));
}

void TestUpdateChecker::unresolvableNameFailsAtOnce()
{
    qputenv("CORVANE_UPDATE_SERVER", "nohost.invalid");
    QElapsedTimer timer;
    timer.start();
    UpdateChecker checker;
    QVERIFY(!checker.checkUpdate());
    QVERIFY2(timer.elapsed() < 4000, "a failed resolution must not wait for a reply");
    QVERIFY(checker.versions.isEmpty());
}

void TestUpdateChecker::noAnswerFailsAfterTheReplyTimeOut()
{
    constexpr int replyTimeoutMs = 300;
    const qsizetype before = m_server.requests().size();
    QElapsedTimer timer;
    timer.start();
    UpdateChecker checker;
    checker.setReplyTimeout(replyTimeoutMs);
    QVERIFY(!checker.checkUpdate());
    const qint64 elapsed = timer.elapsed();
    // Well below the product's time-out: the one set here is the one waited.
    QVERIFY2(elapsed >= replyTimeoutMs - 10 && elapsed < UpdateChecker::defaultReplyTimeoutMs - 1000,
        qPrintable(QString::number(elapsed)));
    // One request, no retransmission inside a query.
    QCOMPARE(m_server.requests().mid(before), QList<QByteArray> {versionRequest});
}

void TestUpdateChecker::serverAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("host alone takes the default port")
        << "update.example" << true << QByteArray("update.example") << 17384;
    QTest::newRow("host and port") << "127.0.0.1:4000" << true << QByteArray("127.0.0.1") << 4000;
    QTest::newRow("surrounding blanks are ignored")
        << " localhost:65535 " << true << QByteArray("localhost") << 65535;
    QTest::newRow("port 0") << "host:0" << false << QByteArray() << 0;
    QTest::newRow("port above 65535") << "host:65536" << false << QByteArray() << 0;
    QTest::newRow("empty port") << "host:" << false << QByteArray() << 0;
    QTest::newRow("non-numeric port") << "host:http" << false << QByteArray() << 0;
    QTest::newRow("no host") << ":4000" << false << QByteArray() << 0;
    QTest::newRow("empty text") << "" << false << QByteArray() << 0;
    QTest::newRow("two colons") << "a:b:4000" << false << QByteArray() << 0;
}

void TestUpdateChecker::serverAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const auto address = ServerAddress::parse(text, UpdateChecker::defaultPort);
    QCOMPARE(address.has_value(), valid);
    if (valid) {
        QTEST(address->host, "host");
        QTEST(int(address->port), "port");
    }
}

void TestUpdateChecker::serverFromEnvironment()
{
    qputenv("CORVANE_TEST_SERVER", "");
    ServerAddress address = ServerAddress::fromEnvironment("CORVANE_TEST_SERVER", "default.example", 2009);
    QCOMPARE(address.host, QByteArray("default.example"));
    QCOMPARE(address.port, quint16(2009));

    qputenv("CORVANE_TEST_SERVER", "127.0.0.1:7");
    address = ServerAddress::fromEnvironment("CORVANE_TEST_SERVER", "default.example", 2009);
    QCOMPARE(address.host, QByteArray("127.0.0.1"));
    QCOMPARE(address.port, quint16(7));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^CORVANE_TEST_SERVER=")));
    qputenv("CORVANE_TEST_SERVER", "host:none");
    address = ServerAddress::fromEnvironment("CORVANE_TEST_SERVER", "default.example", 2009);
    QCOMPARE(address.host, QByteArray("default.example"));
    QCOMPARE(address.port, quint16(2009));
    qunsetenv("CORVANE_TEST_SERVER");
}

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
