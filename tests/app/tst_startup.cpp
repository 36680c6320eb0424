// Start-up of the real updater binary, copied into a temporary client
// directory: the single-instance hand-over, the take-over after a crash, the
// removal of self-update leftovers and the exit codes. Also the restart of
// the client and the fatal-error box of an unresolvable command line.
#include "app/configuration.h"
#include "app/processtools.h"
#include "app/singleinstancechecker.h"
#include "messageboxcatcher.h"
#include "testfiles.h"
#include "udpresponder.h"
#include "ui/mainwindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLocale>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <memory>

namespace {

const QByteArray versionRequest("3\0", 2);
const QByteArray newsRequest("*\0", 2);

} // namespace

class tst_Startup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void secondStartHandsOverAndExits();
    void killedInstanceDoesNotDisableTheGuard();
    void unresolvableStartEndsWithOne_data();
    void unresolvableStartEndsWithOne();
    void invalidVersionShowsTranslatedBoxAndNoWindow_data();
    void invalidVersionShowsTranslatedBoxAndNoWindow();
    void startDavUzodurRunsScriptWithBlankInPath();

private:
    QProcess* startUpdater(const QStringList& arguments);
    bool isListening() const;

    UdpResponder m_server;
    QTemporaryDir m_tmp;
    std::unique_ptr<QTemporaryDir> m_client;
    QString m_binary;
    QString m_serverName;
    QList<QProcess*> m_processes;
};

void tst_Startup::initTestCase()
{
    QVERIFY(m_server.start());
    QVERIFY(m_tmp.isValid());
    // Local socket files of the updaters under test stay in our own folder.
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
}

void tst_Startup::init()
{
    m_client = std::make_unique<QTemporaryDir>(m_tmp.filePath(QStringLiteral("client dir-XXXXXX")));
    QVERIFY(m_client->isValid());
    const QString built = qEnvironmentVariable("CORVANE_TEST_BINARY_DIR") + QStringLiteral("/update");
    QVERIFY2(QFileInfo::exists(built), qPrintable(built));
    m_binary = m_client->filePath(QStringLiteral("update"));
    QVERIFY(QFile::copy(built, m_binary));
    m_serverName =
        SingleInstanceChecker::localServerNameFor(QFileInfo(m_binary).canonicalFilePath(), QDir::homePath());
    m_server.clearReplies();
    m_server.setReply(versionRequest, "12345#3.0.1");
    m_server.setReply(newsRequest, "news");
}

void tst_Startup::cleanup()
{
    for (QProcess* process : std::as_const(m_processes)) {
        process->kill();
        process->waitForFinished(5000);
        delete process;
    }
    m_processes.clear();
    if (QTest::currentTestFailed())
        m_client->setAutoRemove(false);
    Configuration::setAppRootPathOverride(QString());
}

QProcess* tst_Startup::startUpdater(const QStringList& arguments)
{
    auto* process = new QProcess;
    m_processes.append(process);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("CORVANE_UPDATE_SERVER"), m_server.hostAndPort());
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(m_client->path());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(m_binary, arguments);
    return process;
}

bool tst_Startup::isListening() const
{
    QLocalSocket probe;
    probe.connectToServer(m_serverName);
    return probe.waitForConnected(100);
}

void tst_Startup::secondStartHandsOverAndExits()
{
    const QStringList arguments {"--nouser", "client_linux_amd64", "1234", "#"};
    QProcess* first = startUpdater(arguments);
    QVERIFY(first->waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(isListening(), 10000);

    // Leftovers of a self-update go even when the start then hands over.
    const QStringList leftovers {"_old_update", "imageformats/_old_libqjpeg.so",
        "accessible/_old_libqtaccessiblewidgets.so", "_old_libQtCore.so.4"};
    const QStringList kept {
        "_old_client.bin", "imageformats/libqjpeg.so", "_old_update.txt", "plugins/_old_libqgif.so"};
    for (const QString& name : leftovers + kept)
        QVERIFY(TestFiles::write(m_client->filePath(name), "old"));

    QProcess* second = startUpdater(arguments);
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);

    for (const QString& name : leftovers)
        QVERIFY2(!QFileInfo::exists(m_client->filePath(name)), qPrintable(name));
    for (const QString& name : kept)
        QVERIFY2(QFileInfo::exists(m_client->filePath(name)), qPrintable(name));
    QCOMPARE(first->state(), QProcess::Running);
    QVERIFY(m_server.requests().isEmpty());
}

void tst_Startup::killedInstanceDoesNotDisableTheGuard()
{
    const QStringList arguments {"client_linux_amd64", "1234"};
    QProcess* crashed = startUpdater(arguments);
    QTRY_VERIFY_WITH_TIMEOUT(isListening(), 10000);
    crashed->kill();
    QVERIFY(crashed->waitForFinished(5000));
    QVERIFY2(QFileInfo::exists(m_tmp.filePath(m_serverName)), "a killed updater leaves its socket file");

    QProcess* next = startUpdater(arguments);
    QTRY_VERIFY_WITH_TIMEOUT(isListening(), 10000);
    QProcess* third = startUpdater(arguments);
    QVERIFY(third->waitForFinished(10000));
    QCOMPARE(third->exitStatus(), QProcess::NormalExit);
    QCOMPARE(third->exitCode(), 0);
    QCOMPARE(next->state(), QProcess::Running);
}

void tst_Startup::unresolvableStartEndsWithOne_data()
{
    QTest::addColumn<QByteArray>("updateIni");
    QTest::addColumn<QStringList>("arguments");

    // Neither case shows a box, so a process that ends by itself never
    // reached its event loop: no window was shown.
    QTest::newRow("no entry for the beta channel") << QByteArray("[Channel]\nbeta=true\n") << QStringList();
    QTest::newRow("unattended, no entry for the alpha channel")
        << QByteArray("[Channel]\nalpha=http://alpha.example\n") << QStringList {"--nouser"};
}

void tst_Startup::unresolvableStartEndsWithOne()
{
    QFETCH(QByteArray, updateIni);
    QFETCH(QStringList, arguments);
    QVERIFY(TestFiles::write(m_client->filePath(QStringLiteral("update.ini")), updateIni));

    QProcess* updater = startUpdater(arguments);
    QVERIFY(updater->waitForFinished(20000));
    QCOMPARE(updater->exitStatus(), QProcess::NormalExit);
    QCOMPARE(updater->exitCode(), 1);
    QVERIFY(m_server.requests().contains(versionRequest));
}

void tst_Startup::invalidVersionShowsTranslatedBoxAndNoWindow_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");

    QTest::newRow("de_DE") << "de_DE" << QString::fromUtf8("Ungültige Versionsnummer (x12)");
    QTest::newRow("fr_FR stays English") << "fr_FR"
                                         << "Invalid version nr (x12)";
}

void tst_Startup::invalidVersionShowsTranslatedBoxAndNoWindow()
{
    QFETCH(QString, locale);
    QTranslator translator;
    (void)translator.load(QStringLiteral(":/i18n/update_") + locale);
    QCoreApplication::installTranslator(&translator);
    Configuration::setAppRootPathOverride(m_client->path());

    Configuration configuration;
    MainWindow window(configuration);
    MessageBoxCatcher boxes(QMessageBox::Ok);
    const bool resolved = configuration.parseCommandLineOptions({"update", "client_linux_amd64", "x12"});
    QCoreApplication::removeTranslator(&translator);
    // The box asked the event loop to end, before it ever ran; the request
    // lingers and would end every later loop of this test process at once.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();

    QVERIFY(!resolved);
    QTEST(boxes.texts.value(0), "text");
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY(!window.isVisible());
}

void tst_Startup::startDavUzodurRunsScriptWithBlankInPath()
{
    Configuration::setAppRootPathOverride(m_client->path());
    const QString script = m_client->filePath(Configuration::getClientBinaryName());
    const QString marker = m_client->filePath(QStringLiteral("started"));
    QVERIFY(TestFiles::write(script,
        "#!/bin/sh\necho \"$#\" > \"$(dirname \"$0\")/started.tmp\"\n"
        "mv \"$(dirname \"$0\")/started.tmp\" \"$(dirname \"$0\")/started\"\n"));
    QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    ProcessTools::startDavUzodur();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(marker), 10000);
    QCOMPARE(TestFiles::read(marker), QByteArray("0\n"));
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
