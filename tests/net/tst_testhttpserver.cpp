// The loopback test server that the network, pipeline and engine tests rely
// on: if it misplays an answer, those tests would prove nothing.
#include <memory>

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

#include "testhttpserver.h"

using Answer = TestHttpServer::Answer;

class TestTestHttpServer : public QObject {
    Q_OBJECT

private slots:
    void init();
    void answers_data();
    void answers();
    void proxyRequestsAreAnsweredByPath();
    void keepAliveServesSeveralRequests();

private:
    QNetworkReply* get(const QString& path);
    QByteArray fetch(
        const QString& path, QNetworkReply::NetworkError* error = nullptr, int* status = nullptr);

    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<QNetworkAccessManager> manager;
};

void TestTestHttpServer::init()
{
    server = std::make_unique<TestHttpServer>();
    QVERIFY(server->listen());
    manager = std::make_unique<QNetworkAccessManager>();
    manager->setProxy(QNetworkProxy::NoProxy);
}

QNetworkReply* TestTestHttpServer::get(const QString& path)
{
    QNetworkRequest request(QUrl(server->baseUrl() + path));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return manager->get(request);
}

QByteArray TestTestHttpServer::fetch(const QString& path, QNetworkReply::NetworkError* error, int* status)
{
    std::unique_ptr<QNetworkReply> reply(get(path));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(10000))
        return "<no answer>";
    if (error)
        *error = reply->error();
    if (status)
        *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply->readAll();
}

void TestTestHttpServer::answers_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("failed");

    const QByteArray text = "hello, mirror\n";
    Answer noLength = Answer::ok(text);
    noLength.sendContentLength = false;
    Answer dropped = Answer::generated(100000);
    dropped.dropAfter = 5000;

    QTest::newRow("body with length") << Answer::ok(text) << 200 << text << false;
    QTest::newRow("body without length ends at close") << noLength << 200 << text << false;
    QTest::newRow("generated body is the pattern")
        << Answer::generated(300000) << 200 << TestHttpServer::generatedBytes(0, 300000) << false;
    QTest::newRow("404 with body") << Answer::withStatus(404, "gone") << 404 << QByteArray("gone") << true;
    QTest::newRow("302 is not followed")
        << Answer::redirect(302, "/elsewhere") << 302 << QByteArray() << false;
    QTest::newRow("401 challenge") << Answer::authenticationRequired() << 401 << QByteArray() << true;
    QTest::newRow("dropped mid-body") << dropped << 200 << TestHttpServer::generatedBytes(0, 5000) << true;
}

void TestTestHttpServer::answers()
{
    QFETCH(Answer, answer);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, failed);

    server->setAnswer("/v/file.bin", answer);
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int gotStatus = 0;
    const QByteArray got = fetch("/v/file.bin", &error, &gotStatus);

    if (answer.status != 401) // a challenge without credentials ends before a status is kept
        QCOMPARE(gotStatus, status);
    if (answer.status == 200)
        QCOMPARE(got, body);
    if (answer.dropAfter < 0) {
        QCOMPARE(error != QNetworkReply::NoError, failed);
        QCOMPARE(server->requestedPaths(), QStringList {"/v/file.bin"});
    } else {
        // On a connection closed mid-body the network stack may send the
        // request again, and may even report the short body as a clean end.
        QVERIFY(server->requestCount("/v/file.bin") >= 1);
    }
    QCOMPARE(server->requests().constFirst().requestLine, QByteArray("GET /v/file.bin HTTP/1.1"));
}

void TestTestHttpServer::proxyRequestsAreAnsweredByPath()
{
    server->setAnswer("/42/product.ini", Answer::ok("[client]\n"));
    manager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", server->port()));

    QNetworkRequest request(QUrl("http://mirror.corvane.example/42/product.ini"));
    std::unique_ptr<QNetworkReply> reply(manager->get(request));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    QVERIFY(finished.wait(10000));

    QCOMPARE(reply->readAll(), QByteArray("[client]\n"));
    const TestHttpServer::Request seen = server->requests().value(0);
    QCOMPARE(seen.target, QByteArray("http://mirror.corvane.example/42/product.ini"));
    QCOMPARE(seen.path, QString("/42/product.ini"));
    QCOMPARE(seen.header("host"), QByteArray("mirror.corvane.example"));
}

void TestTestHttpServer::keepAliveServesSeveralRequests()
{
    server->setAnswer("/a", Answer::ok("first"));
    server->setAnswer("/b", Answer::generated(200000));
    QCOMPARE(fetch("/a"), QByteArray("first"));
    QCOMPARE(fetch("/b"), TestHttpServer::generatedBytes(0, 200000));
    QCOMPARE(fetch("/a"), QByteArray("first"));
    QCOMPARE(server->requestedPaths(), (QStringList {"/a", "/b", "/a"}));
}

QTEST_GUILESS_MAIN(TestTestHttpServer)
#include "tst_testhttpserver.moc"
