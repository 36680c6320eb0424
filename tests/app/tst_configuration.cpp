// Configuration: the command line and update.ini matrix, the latest-version
// query and the question whether to try again, and the private temporary
// directory.
#include "app/configuration.h"
#include "app/userquestions.h"
#include "release/releasestatement.h"
#include "scratchmount.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testrelease.h"
#include "testsigning.h"
#include "udpresponder.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <functional>

namespace {

const QByteArray versionRequest("3\0", 2);
const QByteArray newsRequest("*\0", 2);
const QByteArray defaultReply("12345#3.0.1,12400#3.1.0 Beta,12500");
const QByteArray newsReply("Welcome <b>back</b>");

// Answers the retry question as a test says and records each time it was asked.
class ScriptedQuestions final : public UserQuestions {
public:
    explicit ScriptedQuestions(std::function<bool(int)> answer)
        : answer(std::move(answer))
    {
    }

    bool retryLatestVersionQuery(int failedTries) override
    {
        asked.append(failedTries);
        return answer(failedTries);
    }

    std::function<bool(int)> answer;
    QList<int> asked;
};

const QDateTime now = QDateTime::currentDateTimeUtc();
const QByteArray statementDigest(32, '\x42');

// Serves the release statement of kind at mirror (a path of server): a fresh
// one naming version 7 for the stable channel, or one with a flaw.
void serveStatement(TestHttpServer& server, const QString& mirror, const QString& kind)
{
    if (kind == QLatin1String("none"))
        return;
    ReleaseStatement statement;
    ReleaseStatement::Channel entry;
    entry.version = 7;
    entry.display = QStringLiteral("7.0");
    entry.clientType = QStringLiteral("client_linux_amd64");
    entry.productIniSha256 = statementDigest;
    entry.issued = now.addSecs(-3600);
    entry.expires = now.addDays(10);
    if (kind == QLatin1String("expired")) {
        entry.issued = now.addDays(-40);
        entry.expires = now.addDays(-10);
    }
    if (kind == QLatin1String("with news"))
        entry.news = QStringLiteral("<b>Signed</b> news");
    entry.issued.setTime(QTime(entry.issued.time().hour(), entry.issued.time().minute()));
    entry.expires.setTime(QTime(entry.expires.time().hour(), entry.expires.time().minute()));
    statement.channels.insert(
        kind == QLatin1String("beta only") ? QStringLiteral("beta") : QStringLiteral("stable"), entry);
    QByteArray text = statement.toText();
    // Valid and signed, but longer than any statement a publisher writes.
    if (kind == QLatin1String("oversized"))
        text += QByteArray("; padding\n").repeated(ReleaseStatement::maxBytes / 10 + 1);
    const QString path = QStringLiteral("/%1/client_linux_amd64.channels").arg(mirror);
    const QString key = TestSigning::devPrivateKeyPath();
    server.setAnswer(path, TestHttpServer::Answer::ok(text));
    const QByteArray signed1 = kind == QLatin1String("bad signature") ? text + "x" : text;
    server.setAnswer(
        path + QStringLiteral(".sig"), TestHttpServer::Answer::ok(TestSigning::sign(signed1, key)));
    if (kind == QLatin1String("sha256") || kind == QLatin1String("bad sha256"))
        server.setAnswer(path + QStringLiteral(".sig256"),
            TestHttpServer::Answer::ok(TestSigning::sign(
                kind == QLatin1String("sha256") ? text : text + "x", key, SignatureHash::Sha256)));
}

} // namespace

class TestConfiguration : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void resolve_data();
    void resolve();
    void releaseStatement_data();
    void releaseStatement();
    void olderVersions_data();
    void olderVersions();
    void updateSection_data();
    void updateSection();
    void retryUntilServerAnswers();
    void givingUpEndsQuietly_data();
    void givingUpEndsQuietly();
    void createTempDir_data();
    void createTempDir();
    void installationsHaveTheirOwnPrefix();
    void createTempDirGivesUp_data();
    void createTempDirGivesUp();

private:
    void writeUpdateIni(const QByteArray& content);

    UdpResponder m_server;
    QTemporaryDir m_tempRoot;
    std::unique_ptr<QTemporaryDir> m_clientDir;
    QString m_tmpDir;
};

void TestConfiguration::initTestCase()
{
    QVERIFY(m_server.start());
    QVERIFY(m_tempRoot.isValid());
}

void TestConfiguration::init()
{
    m_clientDir = std::make_unique<QTemporaryDir>(m_tempRoot.filePath(QStringLiteral("client-XXXXXX")));
    QVERIFY(m_clientDir->isValid());
    Configuration::setAppRootPathOverride(m_clientDir->path());
    m_tmpDir = m_clientDir->filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(m_tmpDir));
    qputenv("TMPDIR", QFile::encodeName(m_tmpDir));
    qputenv("CORVANE_UPDATE_SERVER", m_server.hostAndPort().toUtf8());
    m_server.clearReplies();
    m_server.setReply(versionRequest, defaultReply);
    m_server.setReply(newsRequest, newsReply);
}

void TestConfiguration::cleanup()
{
    if (QTest::currentTestFailed())
        m_clientDir->setAutoRemove(false);
    Configuration::setAppRootPathOverride(QString());
    qunsetenv("TMPDIR");
}

void TestConfiguration::writeUpdateIni(const QByteArray& content)
{
    if (!content.isNull())
        QVERIFY(TestFiles::write(m_clientDir->filePath(QStringLiteral("update.ini")), content));
}

void TestConfiguration::resolve_data()
{
    QTest::addColumn<QByteArray>("updateIni");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("versionReply");
    QTest::addColumn<bool>("resolved");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("clientType");
    QTest::addColumn<int>("clientVersion");
    QTest::addColumn<QString>("versionString");
    QTest::addColumn<QString>("news");
    QTest::addColumn<int>("runMode");
    QTest::addColumn<QString>("fatalError");
    QTest::addColumn<bool>("queried");

    const QString type = QStringLiteral("client_linux_amd64");
    const QString serverNews = QString::fromLatin1(newsReply);
    const QByteArray alpha("[Channel]\nalpha=http://alpha.example/client\nalphaRevno=1234\n");

    QTest::newRow("no arguments, no update.ini: stable entry from the server")
        << QByteArray() << QStringList() << defaultReply << true << int(Stable) << type << 12345 << "3.0.1"
        << serverNews << 0 << QString() << true;
    QTest::newRow("beta=true takes the second entry")
        << QByteArray("[Channel]\nbeta=true\n") << QStringList() << defaultReply << true << int(Beta) << type
        << 12400 << "3.1.0 Beta" << serverNews << 0 << QString() << true;
    QTest::newRow("any other beta text is true")
        << QByteArray("[Channel]\nbeta=yes\n") << QStringList() << defaultReply << true << int(Beta) << type
        << 12400 << "3.1.0 Beta" << serverNews << 0 << QString() << true;
    QTest::newRow("beta=0 stays stable")
        << QByteArray("[Channel]\nbeta=0\n") << QStringList() << defaultReply << true << int(Stable) << type
        << 12345 << "3.0.1" << serverNews << 0 << QString() << true;
    QTest::newRow("beta=FALSE stays stable")
        << QByteArray("[Channel]\nbeta=FALSE\n") << QStringList() << defaultReply << true << int(Stable)
        << type << 12345 << "3.0.1" << serverNews << 0 << QString() << true;
    QTest::newRow("alphaRevno wins over the command line's version")
        << alpha << QStringList {"client_x", "999"} << defaultReply << true << int(Alpha) << "client_x"
        << 1234 << QString() << QString() << 0 << QString() << false;
    QTest::newRow("alpha without alphaRevno takes the third entry")
        << QByteArray("[Channel]\nalpha=http://alpha.example/client\n") << QStringList() << defaultReply
        << true << int(Alpha) << type << 12500 << QString() << serverNews << 0 << QString() << true;
    QTest::newRow("alpha url with a comma still selects alpha")
        << QByteArray("[Channel]\nalpha=http://alpha.example/a,b\nalphaRevno=77\nbeta=true\n")
        << QStringList() << defaultReply << true << int(Alpha) << type << 77 << QString() << QString() << 0
        << QString() << false;
    QTest::newRow("alpha wins over beta")
        << QByteArray("[Channel]\nalpha=x\nbeta=true\nalphaRevno=5\n") << QStringList() << defaultReply
        << true << int(Alpha) << type << 5 << QString() << QString() << 0 << QString() << false;
    QTest::newRow("explicit type and version make no query")
        << QByteArray() << QStringList {"client_x", "4321"} << defaultReply << true << int(Stable)
        << "client_x" << 4321 << QString() << QString() << 0 << QString() << false;
    QTest::newRow("explicit form with version x12")
        << QByteArray() << QStringList {"client_x", "x12"} << defaultReply << false << int(Stable)
        << "client_x" << 0 << QString() << QString() << 0 << "Invalid version nr (x12)" << false;
    QTest::newRow("--nouser alone asks the server")
        << QByteArray() << QStringList {"--nouser"} << defaultReply << true << int(Stable) << type << 12345
        << "3.0.1" << serverNews << 1 << QString() << true;
    QTest::newRow("--nouser ignores a lone type")
        << QByteArray() << QStringList {"--nouser", "client_x"} << defaultReply << true << int(Stable) << type
        << 12345 << "3.0.1" << serverNews << 1 << QString() << true;
    QTest::newRow("--nouser with type, version and # leaves the display text empty")
        << QByteArray() << QStringList {"--nouser", "client_x", "1234", "#"} << defaultReply << true
        << int(Stable) << "client_x" << 1234 << QString() << QString() << 1 << QString() << false;
    QTest::newRow("--nouser with display text and news")
        << QByteArray() << QStringList {"--nouser", "client_x", "1234", "3.0.1", "Hello"} << defaultReply
        << true << int(Stable) << "client_x" << 1234 << "3.0.1"
        << "Hello" << 1 << QString() << false;
    QTest::newRow("--nouser ignores arguments after the fifth")
        << QByteArray() << QStringList {"--nouser", "client_x", "1234", "3.0.1", "Hello", "more"}
        << defaultReply << true << int(Stable) << "client_x" << 1234 << "3.0.1"
        << "Hello" << 1 << QString() << false;
    // Releases are numbered from 1: 0 and below name none, wherever they come from.
    QTest::newRow("--nouser with version 0 is an invalid version")
        << QByteArray() << QStringList {"--nouser", "client_x", "0", "9.9"} << defaultReply << false
        << int(Stable) << "client_x" << 0 << QString() << QString() << 0 << "Invalid version nr (0)" << false;
    QTest::newRow("a negative version is invalid")
        << QByteArray() << QStringList {"client_x", "-7"} << defaultReply << false << int(Stable)
        << "client_x" << 0 << QString() << QString() << 0 << "Invalid version nr (-7)" << false;
    QTest::newRow("the server's version 0 is invalid")
        << QByteArray() << QStringList() << QByteArray("0#0.0") << false << int(Stable) << type << 0
        << QString() << serverNews << 0 << "Update server returned invalid version nr (0)" << true;
    QTest::newRow("a negative alphaRevno is invalid")
        << QByteArray("[Channel]\nalpha=http://alpha.example/client\nalphaRevno=-3\n") << QStringList()
        << defaultReply << false << int(Alpha) << QString() << 0 << QString() << QString() << 0
        << "Invalid version nr (-3)" << false;
    QTest::newRow("--nouser with an invalid version")
        << QByteArray() << QStringList {"--nouser", "client_x", "abc"} << defaultReply << false << int(Stable)
        << "client_x" << 0 << QString() << QString() << 0 << "Invalid version nr (abc)" << false;
    QTest::newRow("--nouser on alpha keeps alphaRevno")
        << alpha << QStringList {"--nouser", "client_x", "42", "#"} << defaultReply << true << int(Alpha)
        << "client_x" << 1234 << QString() << QString() << 1 << QString() << false;
    QTest::newRow("three arguments without --nouser are ignored")
        << QByteArray() << QStringList {"client_x", "1", "x"} << defaultReply << true << int(Stable) << type
        << 12345 << "3.0.1" << serverNews << 0 << QString() << true;
    QTest::newRow("a reply without an entry for the channel ends quietly")
        << QByteArray("[Channel]\nbeta=true\n") << QStringList() << QByteArray("12345#3.0.1") << false
        << int(Beta) << type << 0 << QString() << serverNews << 0 << QString() << true;
    QTest::newRow("an empty entry for the channel ends quietly")
        << QByteArray() << QStringList() << QByteArray(",12400#3.1.0") << false << int(Stable) << type << 0
        << QString() << serverNews << 0 << QString() << true;
    QTest::newRow("the server's invalid version is reported")
        << QByteArray() << QStringList() << QByteArray("12a45#3.0.1") << false << int(Stable) << type << 0
        << QString() << serverNews << 0 << "Update server returned invalid version nr (12a45)" << true;
}

void TestConfiguration::resolve()
{
    QFETCH(QByteArray, updateIni);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, versionReply);

    writeUpdateIni(updateIni);
    m_server.setReply(versionRequest, versionReply);
    const qsizetype requestsBefore = m_server.requests().size();

    Configuration configuration;
    QSignalSpy fatal(&configuration, &Configuration::fatalError);
    ScriptedQuestions questions([](int) { return false; });
    configuration.setQuestions(&questions);
    const bool resolved = configuration.parseCommandLineOptions(QStringList {"update"} + arguments);

    QTEST(resolved, "resolved");
    QTEST(int(configuration.channel()), "channel");
    QTEST(configuration.clientType(), "clientType");
    QTEST(configuration.clientVersion(), "clientVersion");
    QTEST(configuration.versionString(), "versionString");
    QTEST(configuration.news(), "news");
    QTEST(int(configuration.runMode()), "runMode");
    QFETCH(QString, fatalError);
    QCOMPARE(fatal.size(), fatalError.isEmpty() ? 0 : 1);
    if (!fatalError.isEmpty())
        QCOMPARE(fatal.at(0).at(0).toString(), fatalError);
    QFETCH(bool, queried);
    QCOMPARE(m_server.requests().size() > requestsBefore, queried);
    QCOMPARE(questions.asked, QList<int>());
}

void TestConfiguration::releaseStatement_data()
{
    QTest::addColumn<QStringList>("mirrors"); // the statement each mirror serves
    QTest::addColumn<QByteArray>("updateIni");
    QTest::addColumn<bool>("udpBlocked");
    QTest::addColumn<int>("version"); // 0: refused
    QTest::addColumn<QString>("news");
    QTest::addColumn<QString>("refusal"); // start of the refusal, when refused

    const QString serverNews = QString::fromLatin1(newsReply);
    const QString which = QStringLiteral("The release statement of client_linux_amd64 (stable channel) ");
    const QByteArray none;
    QTest::newRow("the statement names the version; the server only brings news")
        << QStringList {"fresh"} << none << false << 7 << serverNews << QString();
    QTest::newRow("signed news replaces the server's")
        << QStringList {"with news"} << none << false << 7 << "<b>Signed</b> news" << QString();
    QTest::newRow("UDP blocked: the statement alone is enough")
        << QStringList {"fresh"} << none << true << 7 << QString() << QString();
    QTest::newRow("checked with its .sig256 where the mirror has one")
        << QStringList {"sha256"} << none << false << 7 << serverNews << QString();
    QTest::newRow("no statement on the mirrors: the server decides as before")
        << QStringList {"none"} << none << false << 12345 << serverNews << QString();
    QTest::newRow("a statement without the channel: the server decides as before")
        << QStringList {"beta only"} << none << false << 12345 << serverNews << QString();
    QTest::newRow("a statement beyond the size limit is not read")
        << QStringList {"oversized"} << none << false << 12345 << serverNews << QString();
    QTest::newRow("an expired statement is refused")
        << QStringList {"expired"} << none << false << 0 << QString() << which + "expired on ";
    QTest::newRow("one older than the statement already followed is refused")
        << QStringList {"fresh"}
        << "[installed]\nstableStatement=" + ReleaseStatement::timeText(now).toLatin1() + "\n"
        << false << 0 << QString() << which + "was issued on ";
    QTest::newRow("one that does not verify is refused")
        << QStringList {"bad signature"} << none << false << 0 << QString()
        << "The release statement client_linux_amd64.channels on ";
    QTest::newRow("a bad .sig256 beside a good .sig is refused")
        << QStringList {"bad sha256"} << none << false << 0 << QString()
        << "The release statement client_linux_amd64.channels on ";
    QTest::newRow("an expired statement on one mirror, a good one on the next")
        << QStringList {"expired", "fresh"} << none << false << 7 << serverNews << QString();
    QTest::newRow("the statement's version older than the installed one")
        << QStringList {"fresh"} << QByteArray("[installed]\nversion=20000\n") << false << 0 << QString()
        << "Refusing to go back from version 20000 to 7";
}

void TestConfiguration::releaseStatement()
{
    QFETCH(QStringList, mirrors);
    QFETCH(QByteArray, updateIni);
    QFETCH(bool, udpBlocked);
    QFETCH(int, version);
    QFETCH(QString, refusal);
    if (!TestRelease::hasSigningKey())
        QSKIP("this build embeds a publisher's key; nothing here can be signed");
    TestHttpServer server;
    QVERIFY(server.listen());
    QStringList names;
    for (int i = 0; i < mirrors.size(); ++i) {
        names.append(QStringLiteral("M%1").arg(i));
        serveStatement(server, names.last(), mirrors.at(i));
    }
    QVERIFY(
        TestRelease::writeMirrorsIni(m_clientDir->filePath(QStringLiteral("mirrors.ini")), server, names));
    writeUpdateIni(updateIni);
    if (udpBlocked)
        qputenv("CORVANE_UPDATE_SERVER", "nohost.invalid");
    const qsizetype udpBefore = m_server.requests().size();

    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    Configuration configuration;
    configuration.setNetworkAccessManager(&manager);
    QSignalSpy refused(&configuration, &Configuration::refused);
    QCOMPARE(configuration.parseCommandLineOptions({"update"}), version != 0);
    QCOMPARE(configuration.clientVersion(), version == 0 ? configuration.clientVersion() : version);
    if (version == 0) {
        QCOMPARE(refused.size(), 1);
        QVERIFY2(
            refused.at(0).at(0).toString().startsWith(refusal), qPrintable(refused.at(0).at(0).toString()));
        return;
    }
    QCOMPARE(refused.size(), 0);
    QTEST(configuration.news(), "news");
    const bool followed = version == 7;
    QCOMPARE(configuration.versionString(), followed ? QStringLiteral("7.0") : QStringLiteral("3.0.1"));
    QCOMPARE(configuration.productIniSha256(), followed ? statementDigest : QByteArray());
    QCOMPARE(configuration.statementIssued().isValid(), followed);
    QCOMPARE(configuration.versionFromNetwork(), true);
    // Signed news leaves nothing to ask the update server.
    const bool signedNews = configuration.news().startsWith(QLatin1String("<b>Signed"));
    QCOMPARE(m_server.requests().size() > udpBefore, !udpBlocked && !signedNews);
}

void TestConfiguration::olderVersions_data()
{
    QTest::addColumn<QByteArray>("updateIni");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("localDowngradeAllowed"); // the window's yes, the console's --allow-downgrade
    QTest::addColumn<QString>("refusal"); // empty: resolved

    const QByteArray installed20000("[installed]\nversion=20000\n");
    const QByteArray installed12345("[installed]\nversion=12345\n");
    const QString back = QStringLiteral("Refusing to go back from version 20000 to %1");
    // The server names 12345 for the stable channel.
    QTest::newRow("the server's older version is refused")
        << installed20000 << QStringList() << true << back.arg(12345);
    QTest::newRow("unattended too") << installed20000 << QStringList {"--nouser"} << true << back.arg(12345);
    QTest::newRow("the installed version again is no step back")
        << installed12345 << QStringList() << false << QString();
    QTest::newRow("no record: an older version installs as before")
        << QByteArray("[update]\nstreams=2\n") << QStringList() << false << QString();
    QTest::newRow("a command-line version is the user's choice")
        << installed20000 << QStringList {"client_x", "3"} << true << QString();
    QTest::newRow("... unless older versions need --allow-downgrade")
        << installed20000 << QStringList {"client_x", "3"} << false << back.arg(3);
    QTest::newRow("alphaRevno is the user's choice like the command line")
        << installed20000 + "[Channel]\nalpha=http://alpha.example/\nalphaRevno=5\n"
        << QStringList() << false << back.arg(5);
}

void TestConfiguration::olderVersions()
{
    QFETCH(QByteArray, updateIni);
    QFETCH(QStringList, arguments);
    QFETCH(bool, localDowngradeAllowed);
    QFETCH(QString, refusal);
    writeUpdateIni(updateIni);

    Configuration configuration;
    configuration.setLocalDowngradeAllowed(localDowngradeAllowed);
    QSignalSpy refused(&configuration, &Configuration::refused);
    QSignalSpy fatal(&configuration, &Configuration::fatalError);
    QCOMPARE(configuration.parseCommandLineOptions(QStringList {"update"} + arguments), refusal.isEmpty());
    QCOMPARE(configuration.versionRefused(), !refusal.isEmpty());
    QCOMPARE(refused.size(), refusal.isEmpty() ? 0 : 1);
    if (!refusal.isEmpty())
        QCOMPARE(refused.at(0).at(0).toString(), refusal);
    QCOMPARE(fatal.size(), 0);
}

void TestConfiguration::updateSection_data()
{
    QTest::addColumn<QByteArray>("updateIni");
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<int>("downloadConcurrency");

    QTest::newRow("no update.ini: no proxy, 6 streams") << QByteArray() << QString() << 6;
    QTest::newRow("streams 0 gives 6") << QByteArray("[update]\nstreams=0\n") << QString() << 6;
    QTest::newRow("negative streams give 6") << QByteArray("[update]\nstreams=-4\n") << QString() << 6;
    QTest::newRow("non-number streams give 6") << QByteArray("[update]\nstreams=many\n") << QString() << 6;
    QTest::newRow("streams 1 stays 1") << QByteArray("[update]\nstreams=1\n") << QString() << 1;
    QTest::newRow("streams 50 has no upper bound") << QByteArray("[update]\nstreams=50\n") << QString() << 50;
    QTest::newRow("proxy as written") << QByteArray("[update]\nproxy=http://proxy.example:8080\nstreams=3\n")
                                      << "http://proxy.example:8080" << 3;
    QTest::newRow("proxy with a comma stays whole")
        << QByteArray("[update]\nproxy=http://proxy.example/a,b\n") << "http://proxy.example/a,b" << 6;
    QTest::newRow("keys of other groups do not count")
        << QByteArray("[Channel]\nproxy=http://wrong.example\nstreams=2\n") << QString() << 6;
}

void TestConfiguration::updateSection()
{
    QFETCH(QByteArray, updateIni);
    writeUpdateIni(updateIni);

    Configuration configuration;
    configuration.getProxyAndDownloadConcurrency();
    QTEST(configuration.proxy(), "proxy");
    QTEST(configuration.downloadConcurrency(), "downloadConcurrency");
}

void TestConfiguration::retryUntilServerAnswers()
{
    // Name resolution fails at once, so each failed query costs no time-out.
    qputenv("CORVANE_UPDATE_SERVER", "nohost.invalid");
    ScriptedQuestions questions([&](int failedTries) {
        if (failedTries == 3)
            qputenv("CORVANE_UPDATE_SERVER", m_server.hostAndPort().toUtf8());
        return true;
    });

    Configuration configuration;
    configuration.setQuestions(&questions);
    QSignalSpy fatal(&configuration, &Configuration::fatalError);
    QVERIFY(configuration.parseCommandLineOptions({"update"}));

    QCOMPARE(configuration.clientVersion(), 12345);
    QCOMPARE(configuration.news(), QString::fromLatin1(newsReply));
    QCOMPARE(questions.asked, QList<int>({1, 2, 3}));
    QCOMPARE(fatal.size(), 0);
}

void TestConfiguration::givingUpEndsQuietly_data()
{
    QTest::addColumn<bool>("askable");
    QTest::addColumn<QList<int>>("asked");

    QTest::newRow("the answer is to give up") << true << QList<int> {1};
    QTest::newRow("nobody to ask gives up at the first failure") << false << QList<int>();
}

void TestConfiguration::givingUpEndsQuietly()
{
    QFETCH(bool, askable);
    qputenv("CORVANE_UPDATE_SERVER", "nohost.invalid");
    ScriptedQuestions questions([](int) { return false; });

    Configuration configuration;
    if (askable)
        configuration.setQuestions(&questions);
    QSignalSpy fatal(&configuration, &Configuration::fatalError);
    QString news = QStringLiteral("earlier news");
    QCOMPARE(configuration.getLatestClientVersion(Stable, news), qMakePair(QString(), QString()));
    QCOMPARE(news, QStringLiteral("earlier news"));
    QTEST(questions.asked, "asked");

    QVERIFY(!configuration.parseCommandLineOptions({"update", "--nouser"}));
    QCOMPARE(configuration.runMode(), Configuration::RunMode::Interactive);
    QCOMPARE(fatal.size(), 0);
}

void TestConfiguration::createTempDir_data()
{
    // "N" stands for this installation's prefix, "corvane_temp_<tag>_".
    QTest::addColumn<QStringList>("occupied");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty temporary folder") << QStringList() << "N0";
    QTest::newRow("an existing directory is skipped") << QStringList {"dir:N0"} << "N1";
    QTest::newRow("an existing file is skipped") << QStringList {"file:N0"} << "N1";
    QTest::newRow("a dangling symbolic link is not followed") << QStringList {"link:N0"} << "N1";
    QTest::newRow("names are tried in order") << QStringList {"dir:N0", "file:N1", "dir:N3"} << "N2";
    // Names of other installations neither stand in the way nor are taken.
    QTest::newRow("another installation's directories are not ours")
        << QStringList {"dir:corvane_temp_0", "dir:corvane_temp_0123456789ab_0"} << "N0";
}

void TestConfiguration::createTempDir()
{
    QFETCH(QStringList, occupied);
    QFETCH(QString, expected);
    const QString prefix = Configuration::tempDirPrefix();
    QVERIFY2(QRegularExpression(QStringLiteral("^corvane_temp_[0-9a-f]{12}_$")).match(prefix).hasMatch(),
        qPrintable(prefix));
    const QString linkTarget = m_clientDir->filePath(QStringLiteral("planted"));
    for (const QString& entry : occupied) {
        const QString kind = entry.section(QLatin1Char(':'), 0, 0);
        QString name = entry.section(QLatin1Char(':'), 1);
        if (name.startsWith(QLatin1Char('N')))
            name = prefix + name.mid(1);
        const QString path = m_tmpDir + QLatin1Char('/') + name;
        if (kind == QLatin1String("dir"))
            QVERIFY(QDir().mkdir(path));
        else if (kind == QLatin1String("file"))
            QVERIFY(TestFiles::write(path, "x"));
        else
            QVERIFY(QFile::link(linkTarget, path));
    }

    Configuration configuration;
    QSignalSpy fatal(&configuration, &Configuration::fatalError);
    QVERIFY(configuration.initializeStart(QString()));
    QCOMPARE(configuration.tempDir(), m_tmpDir + QLatin1Char('/') + prefix + expected.mid(1));
    QCOMPARE(fatal.size(), 0);
    QVERIFY(!QFileInfo::exists(linkTarget));

    struct stat info { };
    QCOMPARE(::stat(QFile::encodeName(configuration.tempDir()).constData(), &info), 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(info.st_mode & 07777, mode_t(0700));
}

void TestConfiguration::installationsHaveTheirOwnPrefix()
{
    // Two installations of one user never make the same name.
    const QString first = Configuration::tempDirPrefix();
    QTemporaryDir other(m_tempRoot.filePath(QStringLiteral("client-XXXXXX")));
    Configuration::setAppRootPathOverride(other.path());
    const QString second = Configuration::tempDirPrefix();
    Configuration::setAppRootPathOverride(m_clientDir->path());
    QVERIFY(first != second);
    QCOMPARE(Configuration::tempDirPrefix(), first);
}

void TestConfiguration::createTempDirGivesUp_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason");

    QTest::newRow("TMPDIR names no folder") << "missing"
                                            << "No such file or directory";
    QTest::newRow("all thousand names taken") << "taken"
                                              << "File exists";
    QTest::newRow("a read-only folder") << "read-only"
                                        << "Read-only file system";
}

void TestConfiguration::createTempDirGivesUp()
{
    QFETCH(QString, setup);
    QString folder = m_tmpDir + QStringLiteral("/folder");
    std::unique_ptr<ScratchMount> mount;
    if (setup == QLatin1String("taken")) {
        QVERIFY(QDir().mkdir(folder));
        for (int n = 0; n < 1000; ++n)
            QVERIFY(TestFiles::write(
                folder + QLatin1Char('/') + Configuration::tempDirPrefix() + QString::number(n),
                QByteArray()));
    } else if (setup == QLatin1String("read-only")) {
        mount = std::make_unique<ScratchMount>(1 << 20, ScratchMount::ReadOnly);
        if (!mount->isMounted())
            QSKIP(qPrintable(mount->skipReason()));
        folder = mount->path();
    }
    qputenv("TMPDIR", QFile::encodeName(folder));

    Configuration configuration;
    QSignalSpy fatal(&configuration, &Configuration::fatalError);
    QVERIFY(!configuration.createTempDir());
    QCOMPARE(fatal.size(), 1);
    // The folder, the system's reason and where to choose another.
    QFETCH(QString, reason);
    QCOMPARE(fatal.at(0).at(0).toString(),
        QStringLiteral(
            "Cannot create a temporary directory in %1: %2. The environment variable TMPDIR chooses "
            "another place.")
            .arg(folder, reason));
    QVERIFY(configuration.tempDir().isEmpty());
}

QTEST_MAIN(TestConfiguration)
#include "tst_configuration.moc"
