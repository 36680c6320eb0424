// The updater's own GET over HTTP/1.1 against the loopback test server: the
// ways a body is framed, what a response head may weigh, error statuses,
// credentials, kept connections and a bounded read buffer.
#include <algorithm>
#include <memory>

#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTest>

#include "net/httpgetreply.h"
#include "net/updaternetworkmanager.h"
#include "testhttpserver.h"

using Answer = TestHttpServer::Answer;
Q_DECLARE_METATYPE(Answer)

namespace {

constexpr qint64 headLimit = HttpGetReply::maxResponseHeadBytes;

// A raw answer whose head (status line to empty line) is exactly headBytes long.
Answer headOfSize(qint64 headBytes)
{
    const QByteArray start = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-Pad: ";
    const QByteArray end = "\r\nConnection: close\r\n\r\n";
    Answer answer;
    answer.rawHead = start + QByteArray(headBytes - start.size() - end.size(), 'p') + end;
    answer.body = "ok";
    answer.sendContentLength = false;
    return answer;
}

Answer raw(const QByteArray& head, const QByteArray& body)
{
    Answer answer;
    answer.rawHead = head;
    answer.body = body;
    answer.sendContentLength = false;
    return answer;
}

} // namespace

class TestHttpGetReply : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answer_data();
    void answer();
    void credentialsAnswerOneChallenge();
    void connectionsAreKept();
    void readBufferBoundsWhatWaits();

private:
    // Fetches path with the manager and waits for the end.
    QNetworkReply* fetch(const QString& path, const QString& userInfo = {});

    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<UpdaterNetworkManager> manager;
};

void TestHttpGetReply::init()
{
    server = std::make_unique<TestHttpServer>();
    QVERIFY(server->listen());
    manager = std::make_unique<UpdaterNetworkManager>();
    manager->setProxy(QNetworkProxy::NoProxy);
}

void TestHttpGetReply::cleanup()
{
    manager.reset();
    server.reset();
}

QNetworkReply* TestHttpGetReply::fetch(const QString& path, const QString& userInfo)
{
    QUrl url(server->baseUrl() + path);
    if (!userInfo.isEmpty())
        url.setUserInfo(userInfo);
    QNetworkReply* reply = manager->get(QNetworkRequest(url));
    reply->setParent(this);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(20000);
    return reply;
}

void TestHttpGetReply::answer_data()
{
    QTest::addColumn<Answer>("served");
    QTest::addColumn<int>("status"); // 0: no answer was taken
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("error"); // QNetworkReply::NetworkError
    QTest::addColumn<QString>("errorText"); // part of errorString(); %URL% is the address

    const QString tooLarge = QStringLiteral("%URL% sent more than 65536 bytes of response headers");
    Answer untilClose = Answer::ok("until the end");
    untilClose.sendContentLength = false;
    const QByteArray chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";

    QTest::newRow("length-delimited body") << Answer::ok("hello") << 200 << QByteArray("hello") << 0 << "";
    QTest::newRow("body until the connection closes")
        << untilClose << 200 << QByteArray("until the end") << 0 << "";
    QTest::newRow("chunked body with an extension and a trailer")
        << raw(chunked, "5;x=y\r\nhello\r\n6\r\n world\r\n0\r\nX-Sum: 1\r\n\r\n") << 200
        << QByteArray("hello world") << 0 << "";
    QTest::newRow("an interim answer comes first")
        << raw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", "ok") << 200
        << QByteArray("ok") << 0 << "";
    QTest::newRow("404 delivers its page, then the error")
        << Answer::withStatus(404, "no such file") << 404 << QByteArray("no such file")
        << int(QNetworkReply::ContentNotFoundError) << "Error transferring %URL% - server replied: Not Found";
    QTest::newRow("a head of exactly 64 KiB passes")
        << headOfSize(headLimit) << 200 << QByteArray("ok") << 0 << "";
    QTest::newRow("one byte more is refused")
        << headOfSize(headLimit + 1) << 0 << QByteArray() << int(QNetworkReply::ProtocolFailure) << tooLarge;
    QTest::newRow("a trailer counts as head")
        << raw(chunked, "2\r\nok\r\n0\r\nX-Pad: " + QByteArray(headLimit, 't') + "\r\n\r\n") << 200
        << QByteArray("ok") << int(QNetworkReply::ProtocolFailure) << tooLarge;
    QTest::newRow("no status line") << raw("SSH-2.0-OpenSSH\r\n\r\n", "") << 0 << QByteArray()
                                    << int(QNetworkReply::ProtocolFailure)
                                    << "%URL% sent no valid HTTP status line";
    QTest::newRow("chunk longer than announced")
        << raw(chunked, "2\r\nokay\r\n0\r\n\r\n") << 200 << QByteArray("ok")
        << int(QNetworkReply::ProtocolFailure) << "%URL% sent a chunk longer than announced";
    QTest::newRow("the connection ends before the body")
        << raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n", "short") << 200
        << QByteArray("short") << int(QNetworkReply::RemoteHostClosedError)
        << "%URL%: the server closed the connection after 5 bytes of the body";
}

void TestHttpGetReply::answer()
{
    QFETCH(Answer, served);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, error);
    QFETCH(QString, errorText);

    server->setAnswer(QStringLiteral("/f"), served);
    QNetworkReply* reply = fetch(QStringLiteral("/f"));
    QVERIFY(reply->isFinished());
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    QCOMPARE(reply->readAll(), body);
    QCOMPARE(int(reply->error()), error);
    const QString text = errorText.replace(QStringLiteral("%URL%"), server->baseUrl() + QStringLiteral("/f"));
    QVERIFY2(reply->errorString().contains(text), qPrintable(reply->errorString()));
    QCOMPARE(server->requestedPaths(), QStringList {QStringLiteral("/f")});
}

void TestHttpGetReply::credentialsAnswerOneChallenge()
{
    server->setAnswer(QStringLiteral("/f"), Answer::authenticationRequired());
    QNetworkReply* reply = fetch(QStringLiteral("/f"), QStringLiteral("user:se%3Acret"));
    QCOMPARE(reply->error(), QNetworkReply::AuthenticationRequiredError);
    // Asked without credentials, then once with them; never a third time.
    const QList<TestHttpServer::Request> requests = server->requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).header("Authorization"), QByteArray());
    QCOMPARE(requests.at(1).header("Authorization"), "Basic " + QByteArray("user:se:cret").toBase64());
    QVERIFY2(!reply->errorString().contains(QLatin1String("cret")), qPrintable(reply->errorString()));
}

void TestHttpGetReply::connectionsAreKept()
{
    server->setAnswer(QStringLiteral("/a"), Answer::ok("first"));
    server->setAnswer(QStringLiteral("/b"), Answer::ok("second"));
    QCOMPARE(fetch(QStringLiteral("/a"))->readAll(), QByteArray("first"));
    QCOMPARE(fetch(QStringLiteral("/b"))->readAll(), QByteArray("second"));
    QCOMPARE(server->connectionCount(), 1);
}

void TestHttpGetReply::readBufferBoundsWhatWaits()
{
    // A caller that reads slowly holds at most its buffer; the rest waits
    // at the server.
    constexpr qint64 size = 8 * 1024 * 1024;
    constexpr qint64 buffer = 64 * 1024;
    server->setAnswer(QStringLiteral("/big"), Answer::generated(size));
    QNetworkReply* reply = manager->get(QNetworkRequest(QUrl(server->baseUrl() + QStringLiteral("/big"))));
    reply->setParent(this);
    reply->setReadBufferSize(buffer);
    QByteArray got;
    qint64 mostWaiting = 0;
    connect(reply, &QNetworkReply::readyRead, this, [&] {
        mostWaiting = std::max(mostWaiting, reply->bytesAvailable());
        while (reply->bytesAvailable() > 0)
            got += reply->read(4096);
    });
    QSignalSpy finished(reply, &QNetworkReply::finished);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    got += reply->readAll();
    QCOMPARE(got.size(), size);
    QVERIFY(got == TestHttpServer::generatedBytes(0, size));
    QVERIFY2(mostWaiting <= buffer, qPrintable(QString::number(mostWaiting)));
}

QTEST_GUILESS_MAIN(TestHttpGetReply)
#include "tst_httpgetreply.moc"
