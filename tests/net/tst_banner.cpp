// The banner: the UDP query against a responder on loopback, and the image
// download through the engine's network access manager, its size limits and
// its proxy.
#include "app/configuration.h"
#include "app/updateengine.h"
#include "buildconfig.h"
#include "net/banner.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "udpresponder.h"

#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QByteArray bannerRequest("\x01\x01", 2);
// The tests' answer time-out: a query that sees no answer asks again after
// this long, and gives up one more time-out later.
constexpr int resendMs = 300;

} // namespace

class TestBanner : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void answers_data();
    void answers();
    void noAnswerAsksTwiceOneTimeOutApart();
    void forgedAnswersAreNeverSeen_data();
    void forgedAnswersAreNeverSeen();
    void imageSize_data();
    void imageSize();
    void redirectIsNotFollowed();
    void imageGoesThroughTheProxy();

private:
    // A fresh engine over a client directory whose update.ini holds updateIni.
    UpdateEngine* makeEngine(const QByteArray& updateIni = {});
    // Starts the engine's banner query with the tests' answer time-out.
    void getBanner();
    // Scripts the UDP answer; %1 in text becomes the HTTP server's base URL.
    void answerWith(const QString& text);
    // True once the engine holds no image download any more.
    bool noDownloadPending() const;

    UdpResponder udp;
    TestHttpServer http;
    std::unique_ptr<QTemporaryDir> clientDir;
    std::unique_ptr<Configuration> configuration;
    std::unique_ptr<UpdateEngine> engine;
};

void TestBanner::initTestCase()
{
    QVERIFY(udp.start());
    QVERIFY(http.listen());
}

void TestBanner::init()
{
    qputenv("CORVANE_BANNER_SERVER", udp.hostAndPort().toUtf8());
    clientDir = std::make_unique<QTemporaryDir>();
    QVERIFY(clientDir->isValid());
    Configuration::setAppRootPathOverride(clientDir->path());
}

void TestBanner::cleanup()
{
    engine.reset();
    configuration.reset();
    Configuration::setAppRootPathOverride(QString());
    udp.clearReplies();
    udp.clearRequests();
    http.clearRequests();
    if (QTest::currentTestFailed())
        clientDir->setAutoRemove(false);
}

UpdateEngine* TestBanner::makeEngine(const QByteArray& updateIni)
{
    if (!updateIni.isEmpty())
        TestFiles::write(clientDir->filePath(QStringLiteral("update.ini")), updateIni);
    configuration = std::make_unique<Configuration>();
    engine = std::make_unique<UpdateEngine>(*configuration, nullptr);
    return engine.get();
}

void TestBanner::getBanner()
{
    engine->getBanner();
    // The query sends only once the server's name is resolved, which the
    // event loop delivers later, so the time-out set here is the one it uses.
    auto* banner = engine->findChild<Banner*>();
    QVERIFY(banner);
    banner->setAnswerTimeout(resendMs);
}

void TestBanner::answerWith(const QString& text)
{
    const QString answer = text.contains(QLatin1String("%1")) ? text.arg(http.baseUrl()) : text;
    udp.setReply(bannerRequest, answer.toLatin1());
}

bool TestBanner::noDownloadPending() const
{
    return engine->findChild<QNetworkReply*>() == nullptr;
}

void TestBanner::answers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("clickUrl");

    const QString longClick = QStringLiteral("http://click.example/") + QString(2000, QLatin1Char('x'));
    QTest::newRow("image URL and click URL")
        << "%1/banner.png,http://click.example/page" << true << "http://click.example/page";
    QTest::newRow("an empty click URL is still two parts") << "%1/banner.png," << true << QString();
    QTest::newRow("an answer is cut after 1024 bytes")
        << QStringLiteral("%1/banner.png,") + longClick << true
        << longClick.left(1024 - (http.baseUrl() + QStringLiteral("/banner.png,")).size());
    QTest::newRow("two commas give nothing") << "%1/banner.png,http://click.example/,x" << false << QString();
    QTest::newRow("no comma gives nothing") << "%1/banner.png" << false << QString();
    QTest::newRow("an invalid image URL is not requested")
        << "http://[broken/banner.png,http://click.example/" << false << QString();
}

void TestBanner::answers()
{
    QFETCH(QString, answer);
    QFETCH(bool, found);
    QFETCH(QString, clickUrl);

    http.setAnswer(QStringLiteral("/banner.png"), TestHttpServer::Answer::ok("PNG bytes"));
    answerWith(answer);
    makeEngine();
    QSignalSpy spy(engine.get(), &UpdateEngine::bannerFound);
    getBanner();

    if (found) {
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray("PNG bytes"));
        QCOMPARE(spy.at(0).at(1).toString(), clickUrl);
        QCOMPARE(http.requestedPaths(), QStringList {QStringLiteral("/banner.png")});
        QCOMPARE(udp.requests(), QList<QByteArray> {bannerRequest});
        return;
    }
    // The answer ends the query: no second request follows after the
    // resend interval, and no image is fetched.
    QTRY_COMPARE_WITH_TIMEOUT(udp.requests().size(), 1, 5000);
    QTest::qWait(resendMs + 300);
    QCOMPARE(udp.requests().size(), 1);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(http.requests().size(), 0);
}

void TestBanner::noAnswerAsksTwiceOneTimeOutApart()
{
    Banner banner(nullptr);
    banner.setAnswerTimeout(resendMs);
    QSignalSpy spy(&banner, &Banner::bannerFound);
    banner.run();

    QTRY_COMPARE_WITH_TIMEOUT(udp.requests().size(), 2, 5000);
    const QList<qint64> sent = udp.requestTimesMs();
    const qint64 gap = sent.at(1) - sent.at(0);
    // The times are taken where the requests arrive, on another thread: on a
    // busy machine the first can be seen late and the gap looks short. Only a
    // resend clearly without its wait, or clearly late, counts.
    QVERIFY2(gap >= resendMs / 2 && gap < resendMs + 1500, qPrintable(QString::number(gap)));
    QCOMPARE(udp.requests(), (QList<QByteArray> {bannerRequest, bannerRequest}));

    // After the second time-out the query is over for good.
    QTest::qWait(resendMs + 300);
    QCOMPARE(udp.requests().size(), 2);
    QCOMPARE(spy.count(), 0);
}

void TestBanner::forgedAnswersAreNeverSeen_data()
{
    QTest::addColumn<QByteArray>("forgerHost");
    QTest::newRow("from another port of the server's address") << QByteArray("127.0.0.1");
    QTest::newRow("from another address") << QByteArray("127.0.0.2");
}

// Someone who sees the request answers first, from elsewhere: the image and
// the click target must still be the server's.
void TestBanner::forgedAnswersAreNeverSeen()
{
    QFETCH(QByteArray, forgerHost);
    http.setAnswer(QStringLiteral("/banner.png"), TestHttpServer::Answer::ok("PNG bytes"));
    http.setAnswer(QStringLiteral("/forged.png"), TestHttpServer::Answer::ok("forged bytes"));
    udp.setForgery(bannerRequest,
        (http.baseUrl() + QStringLiteral("/forged.png,http://evil.example/")).toLatin1(), forgerHost);
    answerWith(QStringLiteral("%1/banner.png,http://click.example/"));
    makeEngine();
    QSignalSpy spy(engine.get(), &UpdateEngine::bannerFound);
    getBanner();

    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray("PNG bytes"));
    QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("http://click.example/"));
    QCOMPARE(http.requestedPaths(), QStringList {QStringLiteral("/banner.png")});
}

void TestBanner::imageSize_data()
{
    QTest::addColumn<bool>("contentLength");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("found");

    QTest::newRow("Content-Length 270000 is accepted") << true << qint64(270000) << true;
    QTest::newRow("Content-Length 270001 is dropped") << true << qint64(270001) << false;
    QTest::newRow("without Content-Length 270000 bytes are accepted") << false << qint64(270000) << true;
    QTest::newRow("without Content-Length 270001 bytes are dropped") << false << qint64(270001) << false;
    QTest::newRow("without Content-Length an endless body is stopped") << false << (qint64(1) << 40) << false;
}

void TestBanner::imageSize()
{
    QFETCH(bool, contentLength);
    QFETCH(qint64, size);
    QFETCH(bool, found);

    TestHttpServer::Answer image = TestHttpServer::Answer::generated(size);
    image.sendContentLength = contentLength;
    http.setAnswer(QStringLiteral("/banner.png"), image);
    answerWith(QStringLiteral("%1/banner.png,http://click.example/"));
    makeEngine();
    QSignalSpy spy(engine.get(), &UpdateEngine::bannerFound);
    getBanner();

    QTRY_COMPARE_WITH_TIMEOUT(http.requestCount(QStringLiteral("/banner.png")), 1, 5000);
    // Found or dropped, the reply is released; a download that is neither
    // stopped nor finished keeps it.
    QTRY_VERIFY_WITH_TIMEOUT(noDownloadPending(), 10000);
    QCOMPARE(spy.count(), found ? 1 : 0);
    if (found)
        QVERIFY(spy.at(0).at(0).toByteArray() == TestHttpServer::generatedBytes(0, size));
}

void TestBanner::redirectIsNotFollowed()
{
    TestHttpServer::Answer moved =
        TestHttpServer::Answer::redirect(302, http.baseUrl().toLatin1() + "/elsewhere.png");
    moved.body = "moved";
    http.setAnswer(QStringLiteral("/banner.png"), moved);
    http.setAnswer(QStringLiteral("/elsewhere.png"), TestHttpServer::Answer::ok("PNG bytes"));
    answerWith(QStringLiteral("%1/banner.png,http://click.example/"));
    makeEngine();
    QSignalSpy spy(engine.get(), &UpdateEngine::bannerFound);
    getBanner();

    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray("moved"));
    QCOMPARE(http.requestedPaths(), QStringList {QStringLiteral("/banner.png")});
}

void TestBanner::imageGoesThroughTheProxy()
{
    // The image lives on a host that does not exist: only a request sent to
    // the proxy can reach the test server.
    http.setAnswer(QStringLiteral("/banner.png"), TestHttpServer::Answer::ok("PNG bytes"));
    udp.setReply(bannerRequest, "http://banner.invalid/banner.png,http://click.example/");
    makeEngine("[update]\nproxy=" + http.baseUrl().toLatin1() + "\n");
    QSignalSpy spy(engine.get(), &UpdateEngine::bannerFound);
    getBanner();

    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray("PNG bytes"));
    QCOMPARE(http.requests().size(), 1);
    QCOMPARE(http.requests().at(0).target, QByteArray("http://banner.invalid/banner.png"));
    QCOMPARE(http.requests().at(0).header("User-Agent"), QByteArray("CorvaneUpdater/" CORVANE_VERSION));
}

QTEST_MAIN(TestBanner)
#include "tst_banner.moc"
