// Start-up of the real updater binary, copied into a temporary client
// directory: the single-instance hand-over, the installation lock against
// another user's updater, the take-over after a crash, the removal of
// self-update leftovers and the exit codes. Also the restart of the client
// and the fatal-error box of an unresolvable command line.
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

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>

namespace {

const QByteArray versionRequest("3\0", 2);
const QByteArray newsRequest("*\0", 2);
// Leftovers of a self-update that a start deletes, and look-alikes it keeps.
const QStringList leftovers {"_old_update", "imageformats/_old_libqjpeg.so",
    "accessible/_old_libqtaccessiblewidgets.so", "_old_libQtCore.so.4"};
const QStringList lookAlikes {
    "_old_client.bin", "imageformats/libqjpeg.so", "_old_update.txt", "plugins/_old_libqgif.so"};
// Keeps an updater running without a window of its own: unattended on the
// alpha channel, it stops at the box that says mirrors.ini is missing.
const QByteArray alphaWithoutMirrors("[Channel]\nalpha=http://alpha.example\n");

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startDeletesSelfUpdateLeftovers();
    void secondStartHandsOverAndChangesNothing();
    void otherUsersUpdaterIsToldAndChangesNothing();
    void lockThatCannotBeTakenChangesNothing_data();
    void lockThatCannotBeTakenChangesNothing();
    void killedInstanceDoesNotDisableTheGuard();
    void markupLoadsNothingUnderAMemoryLimit();
    void unresolvableStartEndsWithOne_data();
    void unresolvableStartEndsWithOne();
    void invalidVersionShowsTranslatedBoxAndNoWindow_data();
    void invalidVersionShowsTranslatedBoxAndNoWindow();
    void olderVersionFromTheServerIsRefusedInABox();
    void startDavUzodurRunsScriptWithBlankInPath();

private:
    // Starts the updater in the client directory, as user nobody when asked;
    // its standard error is kept for the test then, or when readErrors is set.
    QProcess* startUpdater(const QStringList& arguments, bool asNobody = false, bool readErrors = false);
    QProcessEnvironment updaterEnvironment() const;
    void writeLeftovers() const;
    bool isListening() const;

    UdpResponder m_server;
    QTemporaryDir m_tmp;
    std::unique_ptr<QTemporaryDir> m_client;
    QString m_binary;
    QString m_serverName;
    QList<QProcess*> m_processes;
};

void TestStartup::initTestCase()
{
    QVERIFY(m_server.start());
    QVERIFY(m_tmp.isValid());
    // Local socket files of the updaters under test stay in our own folder.
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
}

void TestStartup::init()
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

void TestStartup::cleanup()
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

QProcessEnvironment TestStartup::updaterEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("CORVANE_UPDATE_SERVER"), m_server.hostAndPort());
    return environment;
}

QProcess* TestStartup::startUpdater(const QStringList& arguments, bool asNobody, bool readErrors)
{
    auto* process = new QProcess;
    m_processes.append(process);
    process->setProcessEnvironment(updaterEnvironment());
    process->setWorkingDirectory(m_client->path());
    process->setProcessChannelMode(readErrors ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
    if (asNobody) {
        process->setProcessChannelMode(QProcess::SeparateChannels);
        const passwd* nobody = ::getpwnam("nobody");
        const uid_t uid = nobody ? nobody->pw_uid : 0;
        const gid_t gid = nobody ? nobody->pw_gid : 0;
        // Between fork and exec: plain system calls only.
        process->setChildProcessModifier([uid, gid] {
            if (uid == 0 || ::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(127);
        });
    }
    process->start(m_binary, arguments);
    return process;
}

void TestStartup::writeLeftovers() const
{
    for (const QString& name : leftovers + lookAlikes)
        QVERIFY(TestFiles::write(m_client->filePath(name), "old"));
}

bool TestStartup::isListening() const
{
    QLocalSocket probe;
    probe.connectToServer(m_serverName);
    return probe.waitForConnected(100);
}

void TestStartup::startDeletesSelfUpdateLeftovers()
{
    writeLeftovers();
    // An unattended start on a channel without a mirror ends by itself.
    QVERIFY(TestFiles::write(m_client->filePath(QStringLiteral("update.ini")), alphaWithoutMirrors));
    QProcess* updater = startUpdater({"--nouser"});
    QVERIFY(updater->waitForFinished(20000));
    QCOMPARE(updater->exitCode(), 1);
    for (const QString& name : leftovers)
        QVERIFY2(!QFileInfo::exists(m_client->filePath(name)), qPrintable(name));
    for (const QString& name : lookAlikes)
        QVERIFY2(QFileInfo::exists(m_client->filePath(name)), qPrintable(name));
}

void TestStartup::secondStartHandsOverAndChangesNothing()
{
    const QStringList arguments {"--nouser", "client_linux_amd64", "1234", "#"};
    QProcess* first = startUpdater(arguments);
    QVERIFY(first->waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(isListening(), 10000);

    // The first updater may be replacing its own files right now: their old
    // copies are not the second one's to delete.
    writeLeftovers();
    const auto before = TestFiles::snapshot(m_client->path());
    const qsizetype queries = m_server.requests().size();
    QProcess* second = startUpdater(arguments);
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);

    QCOMPARE(TestFiles::snapshot(m_client->path()), before);
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(m_server.requests().size(), queries);
}

void TestStartup::otherUsersUpdaterIsToldAndChangesNothing()
{
    if (::geteuid() != 0)
        QSKIP("needs root to run an updater as another user");
    // Everyone may read the installation; only root may change it.
    for (const QString& dir : {m_tmp.path(), m_client->path()})
        QVERIFY(QFile::setPermissions(dir, QFile::permissions(dir) | QFile::ReadOther | QFile::ExeOther));
    QVERIFY(TestFiles::write(m_client->filePath(QStringLiteral("update.ini")), alphaWithoutMirrors));
    QProcess* first = startUpdater({"--nouser", "client_linux_amd64", "1234", "#"});
    QTRY_VERIFY_WITH_TIMEOUT(isListening(), 10000);

    writeLeftovers();
    const auto before = TestFiles::snapshot(m_client->path());
    QProcess* second = startUpdater({"--nouser"}, true);
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 3);
    const QString told = QString::fromUtf8(second->readAllStandardError());
    QVERIFY2(told.contains(QStringLiteral("The installation in %1 is being updated by another updater")
                               .arg(m_client->path())),
        qPrintable(told));
    QCOMPARE(TestFiles::snapshot(m_client->path()), before);
    QCOMPARE(first->state(), QProcess::Running);

    // The lock goes with its process, however that ends.
    first->kill();
    QVERIFY(first->waitForFinished(5000));
    QProcess* third = startUpdater({"--nouser"}, true);
    QVERIFY(third->waitForFinished(20000));
    QCOMPARE(third->exitCode(), 1);
    QVERIFY(!third->readAllStandardError().contains("is being updated"));
}

void TestStartup::lockThatCannotBeTakenChangesNothing_data()
{
    QTest::addColumn<bool>("asNobody");
    QTest::addColumn<QString>("reason");

    QTest::newRow("update.lock is a dangling link") << false << "Too many levels of symbolic links";
    QTest::newRow("update.lock of another user, closed to others") << true << "Permission denied";
}

void TestStartup::lockThatCannotBeTakenChangesNothing()
{
    QFETCH(bool, asNobody);
    QFETCH(QString, reason);
    const QString lock = m_client->filePath(QStringLiteral("update.lock"));
    if (asNobody) {
        if (::geteuid() != 0)
            QSKIP("needs root to run an updater as another user");
        for (const QString& dir : {m_tmp.path(), m_client->path()})
            QVERIFY(QFile::setPermissions(dir, QFile::permissions(dir) | QFile::ReadOther | QFile::ExeOther));
        QVERIFY(TestFiles::write(lock, QByteArray()));
        QVERIFY(QFile::setPermissions(lock, QFile::ReadOwner | QFile::WriteOwner));
    } else {
        QVERIFY(QFile::link(m_client->filePath(QStringLiteral("elsewhere")), lock));
    }
    writeLeftovers();
    const auto before = TestFiles::snapshot(m_client->path());

    // Without the lock nothing would keep a second updater out: the run
    // changes nothing, not even the leftovers, and says why.
    QProcess* updater = startUpdater({"--nouser", "client_linux_amd64", "1234", "#"}, asNobody, true);
    QVERIFY(updater->waitForFinished(20000));
    QCOMPARE(updater->exitStatus(), QProcess::NormalExit);
    QCOMPARE(updater->exitCode(), 3);
    const QString told = QString::fromUtf8(updater->readAllStandardError());
    QVERIFY2(told.contains(QStringLiteral("Cannot lock the installation: %1: %2").arg(lock, reason)),
        qPrintable(told));
    QCOMPARE(TestFiles::snapshot(m_client->path()), before);
}

void TestStartup::markupLoadsNothingUnderAMemoryLimit()
{
    // News and a display text that would have the window read /dev/zero
    // for an image, under a limit of 1 GiB of address space (the updater
    // needs less than half): a window that loads nothing runs on to its
    // start, 2 s later, and stops at the box about the missing mirrors.ini.
    const QString markup = QStringLiteral("<img src=\"/dev/zero\"><b>News</b>");
    auto* updater = new QProcess;
    m_processes.append(updater);
    updater->setProcessEnvironment(updaterEnvironment());
    updater->setWorkingDirectory(m_client->path());
    updater->setChildProcessModifier([] {
        constexpr rlim_t addressSpaceBytes = rlim_t(1) << 30;
        const rlimit limit {addressSpaceBytes, addressSpaceBytes};
        if (::setrlimit(RLIMIT_AS, &limit) != 0)
            ::_exit(127);
    });
    QByteArray told;
    connect(
        updater, &QProcess::readyReadStandardError, this, [&] { told += updater->readAllStandardError(); });
    updater->start(m_binary, {"--nouser", "client_linux_amd64", "1234", markup, markup});

    QTRY_VERIFY2_WITH_TIMEOUT(
        told.contains("mirrors.ini is missing, cannot proceed.") || updater->state() == QProcess::NotRunning,
        told.constData(), 20000);
    QVERIFY2(told.contains("mirrors.ini is missing, cannot proceed."), told.constData());
    QCOMPARE(updater->state(), QProcess::Running);
}

void TestStartup::killedInstanceDoesNotDisableTheGuard()
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

void TestStartup::unresolvableStartEndsWithOne_data()
{
    QTest::addColumn<QByteArray>("updateIni");
    QTest::addColumn<QStringList>("arguments");

    // Neither case shows a box, so a process that ends by itself never
    // reached its event loop: no window was shown.
    QTest::newRow("no entry for the beta channel") << QByteArray("[Channel]\nbeta=true\n") << QStringList();
    QTest::newRow("unattended, no entry for the alpha channel")
        << QByteArray("[Channel]\nalpha=http://alpha.example\n") << QStringList {"--nouser"};
}

void TestStartup::unresolvableStartEndsWithOne()
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

void TestStartup::invalidVersionShowsTranslatedBoxAndNoWindow_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");

    QTest::newRow("de_DE") << "de_DE" << QString::fromUtf8("Ungültige Versionsnummer (x12)");
    QTest::newRow("fr_FR stays English") << "fr_FR"
                                         << "Invalid version nr (x12)";
}

void TestStartup::invalidVersionShowsTranslatedBoxAndNoWindow()
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

// The window says what the console logs; the program then ends with 4.
void TestStartup::olderVersionFromTheServerIsRefusedInABox()
{
    Configuration::setAppRootPathOverride(m_client->path());
    QVERIFY(
        TestFiles::write(m_client->filePath(QStringLiteral("update.ini")), "[installed]\nversion=20000\n"));
    qputenv("CORVANE_UPDATE_SERVER", m_server.hostAndPort().toUtf8());

    Configuration configuration;
    MainWindow window(configuration);
    MessageBoxCatcher boxes(QMessageBox::Ok);
    const bool resolved = configuration.parseCommandLineOptions({"update", "--nouser"});
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    qunsetenv("CORVANE_UPDATE_SERVER");

    QVERIFY(!resolved);
    QVERIFY(configuration.versionRefused());
    QCOMPARE(boxes.texts, QStringList {QStringLiteral("Refusing to go back from version 20000 to 12345")});
    QVERIFY(!window.isVisible());
}

void TestStartup::startDavUzodurRunsScriptWithBlankInPath()
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

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
