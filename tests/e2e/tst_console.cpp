// The updater without a window, as scripts and servers run it: the real
// binary with no display variables and no platform plugin set, against
// nginx on loopback. What it prints into pipes and onto a terminal, its exit
// codes, a check that changes nothing, and signals that cancel with rollback.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <memory>
#include <utility>

#include "crypto/publickey.h"
#include "scene.h"
#include "testfiles.h"
#include "testsigning.h"
#include "toolprocess.h"
#include "updaterrun.h"
#include "updateserverprocess.h"

namespace {

// The first byte that would not show as itself in a log file, or -1.
int controlCharacterAt(const QByteArray& text)
{
    for (int i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text.at(i));
        if ((byte < 0x20 && byte != '\n') || byte == 0x7f)
            return i;
    }
    return -1;
}

// Everything in the scene's temporary folder, session directories and
// scratch folders alike.
QMap<QString, QString> tempTree(const Scene& scene)
{
    return TestFiles::snapshot(scene.path(QStringLiteral("tmp")));
}

// A run on a pseudo-terminal of 100 columns: all it wrote there is in out.
ToolProcess::Result runOnTerminal(const Scene& scene, const QStringList& args)
{
    ToolProcess::Terminal terminal {scene.client(), UpdaterRun::environment(scene, args), 100, 30};
    terminal.environment.insert(QStringLiteral("TERM"), QStringLiteral("xterm"));
    return ToolProcess::runOnTerminal(
        scene.client() + QStringLiteral("/update"), args, runTimeoutMs, terminal);
}

} // namespace

class TestConsole : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void helpAndVersion_data();
    void helpAndVersion();
    void usageErrorsAndNoDisplay_data();
    void usageErrorsAndNoDisplay();
    void checkUpdateCheckAgainWithoutADisplay();
    void jsonLinesForScripts();
    void failuresEndWithTheirExitCode_data();
    void failuresEndWithTheirExitCode();
    void signalCancelsWithRollback_data();
    void signalCancelsWithRollback();
    void signalDuringTheCleanUpLetsItFinish();
    void progressLineOnATerminal();
};

void TestConsole::initTestCase()
{
    if (NginxServer::binary().isEmpty())
        QSKIP("nginx is not installed (scripts/setup.sh installs it); the console tests need a real web "
              "server");
    if (TestSigning::devPrivateKeyPath().isEmpty())
        QSKIP("This build embeds a publisher's key; the console tests sign with the development key");
}

void TestConsole::helpAndVersion_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("--help names every exit code")
        << "--help"
        << QStringList {QStringLiteral("Exit codes:"), QStringLiteral("  0    updated"),
               QStringLiteral("  100  --check: an update is available"),
               QStringLiteral("  1    the configuration"), QStringLiteral("  2    the update failed"),
               QStringLiteral("  3    another updater"),
               QStringLiteral("  4    refused: the version would take"),
               QStringLiteral("  130  cancelled by SIGINT (143: SIGTERM")};
    QTest::newRow("--version names the trusted key")
        << "--version"
        << QStringList {QStringLiteral("update (Corvane Client updater) "),
               QStringLiteral("Release signing key: %1\n").arg(QLatin1String(publicKeyFingerprints[0]))};
}

void TestConsole::helpAndVersion()
{
    QFETCH(QString, option);
    Scene scene;
    QVERIFY(scene.installClient({}));
    const QMap<QString, QString> before = TestFiles::snapshot(scene.client());
    const ToolProcess::Result run = UpdaterRun::runToEnd(scene, {option});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    QFETCH(QStringList, lines);
    for (const QString& line : lines)
        QVERIFY2(run.out.contains(line), qPrintable(run.out));
    QCOMPARE(TestFiles::snapshot(scene.client()), before);
}

void TestConsole::usageErrorsAndNoDisplay_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("display"); // DISPLAY, or empty for no display at all
    QTest::addColumn<QString>("error"); // the first line on standard error

    const QString noDisplay = QStringLiteral("update: no display to open the window on (DISPLAY and "
                                             "WAYLAND_DISPLAY are not set); 'update --console' "
                                             "updates without a window");
    QTest::newRow("the window without a display") << QStringList {} << QString() << noDisplay;
    QTest::newRow("--nouser without a display") << QStringList {QStringLiteral("--nouser"), clientType,
        QStringLiteral("2")} << QString() << noDisplay;
    QTest::newRow("a display nobody serves")
        << QStringList {QStringLiteral("--nouser")} << QStringLiteral(":4093")
        << "update: cannot open the window (qt.qpa.xcb: could not connect to display :4093); 'update "
           "--console' "
           "updates without one";
    QTest::newRow("an unknown short option") << QStringList {QStringLiteral("--console"),
        QStringLiteral("-x")} << QString() << "update: unknown option -x";
}

void TestConsole::usageErrorsAndNoDisplay()
{
    QFETCH(QStringList, args);
    QFETCH(QString, display);
    Scene scene;
    QVERIFY(scene.installClient({}));
    const QMap<QString, QString> before = TestFiles::snapshot(scene.client());
    QProcessEnvironment env = UpdaterRun::environment(scene, {QStringLiteral("--console")});
    if (!display.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), display);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(scene.client() + QStringLiteral("/update"), args);
    QVERIFY(process.waitForFinished(runTimeoutMs));
    // An exit of its own, never the toolkit's abort.
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    const QStringList lines = QString::fromUtf8(process.readAllStandardError()).split(QLatin1Char('\n'));
    QFETCH(QString, error);
    QCOMPARE(lines.first(), error);
    // A usage error shows the usage; a missing display is said in one line.
    QCOMPARE(lines.contains(QStringLiteral("Usage:")), !error.contains(QLatin1String("window")));
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    QCOMPARE(TestFiles::snapshot(scene.client()), before);
}

void TestConsole::checkUpdateCheckAgainWithoutADisplay()
{
    Scene scene;
    QVERIFY(scene.installClient(Scene::version1()));
    QVERIFY(scene.publish(2, Scene::version2(), Scene::version1()));
    QVERIFY2(scene.serveMirror(), qPrintable(scene.nginx.errorText()));
    // The version comes from the update server, as in the unattended form.
    UpdateServerProcess server;
    QVERIFY2(server.start(
                 QStringLiteral(CORVANE_UPDATESERVER), {QStringLiteral("--stable"), QStringLiteral("2#2.0")}),
        qPrintable(server.errorText()));
    scene.updateServer = server.versionServer();

    // The check fetches the product ini and compares, and changes nothing:
    // no file, no lock, no session record, no scratch folder.
    const QMap<QString, QString> clientBefore = TestFiles::snapshot(scene.client());
    ToolProcess::Result check = UpdaterRun::runToEnd(scene, {QStringLiteral("--check")});
    QVERIFY2(check.exitCode == 100, qPrintable(check.err));
    QCOMPARE(check.out,
        QStringLiteral("Update to 2.0 available: 4 files to download (21.7 kB, 21721 bytes), 4 to install, 1 "
                       "to delete\n"));
    QCOMPARE(TestFiles::snapshot(scene.client()), clientBefore);
    QCOMPARE(tempTree(scene), (QMap<QString, QString>()));
    // The release statement (there is none), the product ini and its
    // .sig256 (so never the .sig) and the patch index this release has not,
    // nothing else.
    QStringList served = scene.nginx.accessLog(0);
    QVERIFY2(served.size() == 4, qPrintable(served.join(QLatin1Char('\n'))));

    // The update: the same release, no client start without --start-client.
    UpdaterRun update;
    QVERIFY(update.start(scene, {QStringLiteral("--console")}));
    QCOMPARE(update.waitForExit(runTimeoutMs), 0);
    QCOMPARE(scene.releaseFilesInClient(), Scene::version2());
    static const QRegularExpression summary(QStringLiteral(
        "^Updated to 2\\.0: 4 files installed, 1 deleted, 21\\.7 kB downloaded in \\d+\\.\\d s\\n$"));
    QVERIFY2(summary.match(update.out()).hasMatch(), qPrintable(update.both()));
    QVERIFY2(
        update.log().contains(QStringLiteral("Update successfully finished\n")), qPrintable(update.log()));
    // A pipe gets plain lines: no progress line, no escape sequences.
    const int control = controlCharacterAt(update.bytes());
    QVERIFY2(control < 0,
        qPrintable(QStringLiteral("control character at %1 in:\n%2").arg(control).arg(update.both())));
    QCOMPARE(scene.tempLeftovers(), QStringList());
    QCOMPARE(scene.clientStarts(), 0);

    // Checked again: nothing to do, exit 0; a quiet check prints nothing at all.
    check = UpdaterRun::runToEnd(scene, {QStringLiteral("--check"), clientType, QStringLiteral("2")});
    QCOMPARE(check.exitCode, 0);
    QCOMPARE(check.out, QStringLiteral("Up to date: 2 is installed\n"));
    check = UpdaterRun::runToEnd(scene, {QStringLiteral("--check"), QStringLiteral("--quiet")});
    QCOMPARE(check.exitCode, 0);
    QCOMPARE(check.out + check.err, QString());

    // Already current, the client starts when asked to.
    const ToolProcess::Result again = UpdaterRun::runToEnd(scene,
        {QStringLiteral("--console"), QStringLiteral("--start-client"), clientType, QStringLiteral("2")});
    QCOMPARE(again.exitCode, 0);
    QCOMPARE(again.out, QStringLiteral("Already up to date: 2\n"));
    QTRY_COMPARE_WITH_TIMEOUT(scene.clientStarts(), 1, 5000);
    QCOMPARE(tempTree(scene), (QMap<QString, QString>()));
}

namespace {

// Every line of out as a JSON object; a line that is none fails the test.
QList<QJsonObject> jsonLines(const QString& out)
{
    QList<QJsonObject> objects;
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        if (!document.isObject()) {
            qWarning("not a JSON object: %s", qPrintable(line));
            return {};
        }
        objects.append(document.object());
    }
    return objects;
}

} // namespace

void TestConsole::jsonLinesForScripts()
{
    Scene scene;
    QVERIFY(scene.installClient(Scene::version1()));
    QVERIFY(scene.publish(2, Scene::version2(), Scene::version1()));
    QVERIFY2(scene.serveMirror(), qPrintable(scene.nginx.errorText()));

    const struct {
        QStringList args;
        int exitCode;
        const char* result;
    } runs[] = {
        {{QStringLiteral("--check"), QStringLiteral("--json"), clientType, QStringLiteral("2")}, 100,
            "update-available"},
        {{clientType, QStringLiteral("--json"), QStringLiteral("2"), QStringLiteral("--console")}, 0,
            "updated"},
    };
    for (const auto& expected : runs) {
        QElapsedTimer clock;
        clock.start();
        const ToolProcess::Result run = UpdaterRun::runToEnd(scene, expected.args);
        const double seconds = clock.elapsed() / 1000.0;
        QVERIFY2(run.exitCode == expected.exitCode, qPrintable(run.out + run.err));
        // Everything goes to standard output, one object per line.
        QCOMPARE(run.err, QString());
        const QList<QJsonObject> events = jsonLines(run.out);
        QVERIFY2(events.size() > 2, qPrintable(run.out));
        int progressEvents = 0;
        for (const QJsonObject& event : events.mid(0, events.size() - 1)) {
            const QString kind = event.value(QStringLiteral("event")).toString();
            QVERIFY2(kind == QLatin1String("log") || kind == QLatin1String("progress"), qPrintable(run.out));
            progressEvents += kind == QLatin1String("progress");
        }
        // At most a few a second, however fast the update reports.
        QVERIFY2(progressEvents <= 2 * seconds + 2, qPrintable(run.out));

        const QJsonObject result = events.last();
        QCOMPARE(result.value(QStringLiteral("event")).toString(), QStringLiteral("result"));
        QCOMPARE(result.value(QStringLiteral("result")).toString(), QLatin1String(expected.result));
        QCOMPARE(result.value(QStringLiteral("exitCode")).toInt(), expected.exitCode);
        QCOMPARE(result.value(QStringLiteral("clientType")).toString(), clientType);
        QCOMPARE(result.value(QStringLiteral("version")).toInt(), 2);
        const QJsonObject files = result.value(QStringLiteral("files")).toObject();
        QCOMPARE(files.value(QStringLiteral("download")).toInt(), 4);
        QCOMPARE(files.value(QStringLiteral("install")).toInt(), 4);
        QCOMPARE(files.value(QStringLiteral("delete")).toInt(), 1);
        QCOMPARE(result.value(QStringLiteral("bytes")).toInteger(), 21721);
    }
    QCOMPARE(scene.releaseFilesInClient(), Scene::version2());
}

void TestConsole::failuresEndWithTheirExitCode_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    const QStringList update {QStringLiteral("--console"), clientType, QStringLiteral("2")};
    QTest::newRow("a type without a version") << QStringList {QStringLiteral("--console"), clientType}
                                              << QString() << 2 << "a client type needs a version";
    QTest::newRow("an invalid version")
        << QStringList {QStringLiteral("--console"), clientType, QStringLiteral("2x")} << QString() << 1
        << "Invalid version nr (2x)";
    QTest::newRow("the update server never answers")
        << QStringList {QStringLiteral("--console")} << "no update server" << 1
        << "No answer from the update server nohost.invalid, UDP port 17384 after 3 tries";
    QTest::newRow("another updater holds the installation")
        << update << "locked" << 3
        << "is being updated by another updater. Nothing was changed; try again when it has finished.";
    QTest::newRow("a check while another updater holds it")
        << QStringList {QStringLiteral("--check"), clientType, QStringLiteral("2")} << "locked" << 3
        << "is being updated by another updater. Nothing was changed; try again when it has finished.";
    QTest::newRow("no mirror serves the release") << update << "empty mirror" << 2 << "Update of 2 failed";
    const QStringList older {QStringLiteral("--console"), clientType, QStringLiteral("1")};
    QTest::newRow("an older version named without --allow-downgrade")
        << older << "version 2 recorded" << 4 << "Refusing to go back from version 2 to 1";
    // Past the refusal: version 1 is not on the mirror.
    QTest::newRow("a check of an older version with --allow-downgrade") << QStringList {
        QStringLiteral("--check"), QStringLiteral("--allow-downgrade"), clientType,
        QStringLiteral("1")} << "version 2 recorded" << 2 << "Check of 1 failed";
    QTest::newRow("a check against no mirror")
        << QStringList {QStringLiteral("--check"), clientType, QStringLiteral("2")} << "empty mirror" << 2
        << "Check of 2 failed";
    // Without the lock nothing would keep a second updater out.
    QTest::newRow("a lock file that cannot be opened")
        << update << "lock is a link" << 3
        << "Cannot lock the installation: %CLIENT%/update.lock: Too many levels of symbolic links";
    QTest::newRow("update.ini is a symbolic link")
        << update << "update.ini is a link" << 2 << "update.ini is a symbolic link; not writing through it";
    // ulimit -f: the write fails and says so; the signal would kill the run.
    QTest::newRow("a file beyond the size limit") << update << "file size limit" << 2 << ": File too large.";
}

void TestConsole::failuresEndWithTheirExitCode()
{
    QFETCH(QStringList, args);
    QFETCH(QString, setup);
    Scene scene;
    QVERIFY(scene.installClient(Scene::version1()));
    QVERIFY(scene.publish(2, Scene::version2(), Scene::version1()));
    // The empty site answers every request with 404.
    QVERIFY(QDir().mkpath(scene.path(QStringLiteral("empty"))));
    QVERIFY2(scene.nginx.start(scene.path(QStringLiteral("nginx")),
                 {{scene.mirror()}, {scene.path(QStringLiteral("empty"))}}),
        qPrintable(scene.nginx.errorText()));
    QVERIFY(scene.writeMirrorsIni({scene.nginx.url(setup == QLatin1String("empty mirror") ? 1 : 0)}));
    if (setup == QLatin1String("no update server"))
        scene.updateServer = QStringLiteral("nohost.invalid");
    if (setup == QLatin1String("version 2 recorded"))
        QVERIFY(TestFiles::write(scene.client() + QStringLiteral("/update.ini"), "[installed]\nversion=2\n"));
    // The lock of another updater, of any user: the same kind of lock on
    // the same file.
    int lockFd = -1;
    const auto unlock = qScopeGuard([&] {
        if (lockFd >= 0)
            ::close(lockFd);
    });
    if (setup == QLatin1String("locked")) {
        lockFd = ::open(QFile::encodeName(scene.client() + QStringLiteral("/update.lock")).constData(),
            O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(lockFd >= 0 && ::flock(lockFd, LOCK_EX | LOCK_NB) == 0);
    }
    if (setup == QLatin1String("lock is a link"))
        QVERIFY(QFile::link(
            scene.path(QStringLiteral("nowhere")), scene.client() + QStringLiteral("/update.lock")));
    const QString elsewhere = scene.path(QStringLiteral("settings.ini"));
    if (setup == QLatin1String("update.ini is a link")) {
        QVERIFY(TestFiles::write(elsewhere, "[update]\nstreams=2\n"));
        QVERIFY(QFile::link(elsewhere, scene.client() + QStringLiteral("/update.ini")));
    }
    const QMap<QString, QString> before = TestFiles::snapshot(scene.client());

    UpdaterRun run;
    if (setup == QLatin1String("file size limit")) {
        run.setChildProcessModifier([] {
            // Below the 20000 bytes of the release's library.
            const rlimit limit {8192, 8192};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(127);
        });
    }
    QVERIFY(run.start(scene, args));
    QFETCH(int, exitCode);
    QCOMPARE(run.waitForExit(runTimeoutMs), exitCode);
    QFETCH(QString, error);
    error.replace(QStringLiteral("%CLIENT%"), scene.client());
    QVERIFY2(run.log().contains(error + QLatin1Char('\n')), qPrintable(run.both()));
    if (setup == QLatin1String("update.ini is a link"))
        QCOMPARE(TestFiles::read(elsewhere), QByteArray("[update]\nstreams=2\n"));
    QCOMPARE(run.out(), QString());
    QCOMPARE(scene.releaseFilesInClient(), Scene::version1());
    // A failed update keeps its record, so that the next run continues its
    // downloads; nothing else writes anything.
    // An update makes the lock file, as the window does; a check does not.
    QMap<QString, QString> after = TestFiles::snapshot(scene.client());
    if (args.first() == QLatin1String("--console") && !before.contains(QStringLiteral("update.lock")))
        after.remove(QStringLiteral("update.lock"));
    if (!(exitCode == 2 && args.first() == QLatin1String("--console")))
        QCOMPARE(after, before);
    // A refusal fetches nothing of a release.
    if (exitCode == 4) {
        for (const QString& line : scene.nginx.accessLog(0))
            QVERIFY2(!line.contains(QStringLiteral(" /1/")) && !line.contains(QStringLiteral(" /2/")),
                qPrintable(line));
    }
}

void TestConsole::signalCancelsWithRollback_data()
{
    QTest::addColumn<QString>("cutAt");
    QTest::addColumn<int>("firstSignal");
    QTest::addColumn<int>("secondSignal"); // 0 for none

    QTest::newRow("SIGINT during the downloads") << "downloads" << SIGINT << 0;
    QTest::newRow("SIGTERM during the downloads") << "downloads" << SIGTERM << 0;
    QTest::newRow("SIGINT during the installation") << "installation" << SIGINT << 0;
    QTest::newRow("SIGINT during the installation, then SIGTERM") << "installation" << SIGINT << SIGTERM;
}

void TestConsole::signalCancelsWithRollback()
{
    QFETCH(QString, cutAt);
    QFETCH(int, firstSignal);
    QFETCH(int, secondSignal);
    const bool duringDownloads = cutAt == QLatin1String("downloads");
    const Files release = Scene::bigVersion2();
    const QStringList args {QStringLiteral("--console"), clientType, QStringLiteral("2")};
    const QString lateSignal = QStringLiteral("received: the update is installed; finishing its clean-up");
    constexpr int attempts = 3;

    std::unique_ptr<Scene> scene;
    std::unique_ptr<UpdaterRun> run;
    int exitCode = -1;
    // On a busy machine the signal can come only after the installation
    // has ended. The update then finishes rather than leave the old copies
    // behind (checked here), and the scene is played again.
    for (int attempt = 1;; ++attempt) {
        scene = std::make_unique<Scene>();
        run = std::make_unique<UpdaterRun>();
        QVERIFY(scene->installClient(Scene::version1()));
        QVERIFY(scene->publish(2, release, Scene::version1(), {QStringLiteral("--gzip")}));
        // Site 0 trickles, site 1 serves at full speed; both serve the same tree.
        QVERIFY2(scene->serveMirrorTwice(duringDownloads), qPrintable(scene->nginx.errorText()));

        QVERIFY(run->start(*scene, args));
        if (duringDownloads) {
            QVERIFY2(
                run->waitForLog(QStringLiteral("Downloading files"), runTimeoutMs), qPrintable(run->both()));
            // Bytes of the trickled file have arrived.
            QTRY_VERIFY_WITH_TIMEOUT(scene->downloadArrived(QStringLiteral("payload.bin")), 20000);
        } else {
            QVERIFY2(run->waitForLog(QStringLiteral("Starting file updates"), runTimeoutMs),
                qPrintable(run->both()));
            // As soon as the client directory changes.
            QVERIFY2(scene->waitForInstallation(20000), qPrintable(run->both()));
        }
        run->signal(firstSignal);
        if (secondSignal != 0)
            run->signal(secondSignal);
        exitCode = run->waitForExit(runTimeoutMs);
        if (!run->log().contains(lateSignal))
            break;
        QVERIFY2(exitCode == 0, qPrintable(run->both()));
        QCOMPARE(scene->releaseFilesInClient(), release);
        QVERIFY2(attempt < attempts, "every signal came after the installation had ended");
    }

    // Two signals sent at once may be taken by two threads of the updater,
    // in either order: the one it acted on sets the exit code, the other is
    // reported. Either way it exits by itself, after the rollback.
    const auto name = [](int signalNumber) {
        return signalNumber == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM");
    };
    int actedOn = firstSignal;
    if (secondSignal != 0
        && run->log().contains(name(secondSignal) + QStringLiteral(" received: cancelling")))
        std::swap(actedOn, secondSignal);
    QVERIFY2(exitCode == 128 + actedOn, qPrintable(run->both()));
    QCOMPARE(scene->releaseFilesInClient(), Scene::version1());
    QVERIFY2(run->log().contains(QStringLiteral("error: Update cancelled by %1\n").arg(name(actedOn))),
        qPrintable(run->both()));
    if (secondSignal != 0)
        QVERIFY2(run->log().contains(name(secondSignal) + QStringLiteral(" received: still cancelling")),
            qPrintable(run->both()));
    QCOMPARE(run->out(), QString());
    QCOMPARE(scene->clientStarts(), 0);

    if (duringDownloads) {
        // A check reads what the cancelled run kept and changes none of it.
        const QMap<QString, QString> kept = tempTree(*scene);
        QVERIFY(!kept.isEmpty());
        const ToolProcess::Result check =
            UpdaterRun::runToEnd(*scene, {QStringLiteral("--check"), clientType, QStringLiteral("2")});
        QCOMPARE(check.exitCode, 100);
        QCOMPARE(tempTree(*scene), kept);
    }

    // The next run converges on the release and leaves nothing behind.
    QVERIFY(scene->writeMirrorsIni({scene->nginx.url(1)}));
    const ToolProcess::Result rerun = UpdaterRun::runToEnd(*scene, args);
    QVERIFY2(rerun.exitCode == 0, qPrintable(rerun.err));
    QCOMPARE(scene->releaseFilesInClient(), release);
    QCOMPARE(scene->tempLeftovers(), QStringList());
}

void TestConsole::signalDuringTheCleanUpLetsItFinish()
{
    Scene scene;
    // Many obsolete files, so that their deletion, the last stage, takes a while.
    Files old = Scene::version1();
    for (int i = 0; i < 3000; ++i)
        old.insert(QStringLiteral("obsolete/file%1.txt").arg(i), QByteArray::number(i));
    QVERIFY(scene.installClient(old));
    QVERIFY(scene.publish(2, Scene::version2(), old));
    QVERIFY2(scene.serveMirror(), qPrintable(scene.nginx.errorText()));

    UpdaterRun run;
    QVERIFY(run.start(scene, {QStringLiteral("--console"), clientType, QStringLiteral("2")}));
    QVERIFY2(run.waitForLog(QStringLiteral("Starting deleting files"), runTimeoutMs), qPrintable(run.both()));
    run.signal(SIGINT);
    // The installation cannot be undone any more: the update ends as a
    // success, without "_old_" copies or obsolete files.
    QCOMPARE(run.waitForExit(runTimeoutMs), 0);
    QVERIFY2(run.log().contains(
                 QStringLiteral("SIGINT received: the update is installed; finishing its clean-up")),
        qPrintable(run.both().right(2000)));
    QVERIFY2(run.out().startsWith(QStringLiteral("Updated to 2: 4 files installed, 3001 deleted")),
        qPrintable(run.out()));
    QCOMPARE(scene.releaseFilesInClient(), Scene::version2());
    QCOMPARE(scene.tempLeftovers(), QStringList());
}

void TestConsole::progressLineOnATerminal()
{
    Scene scene;
    Files release = Scene::version2();
    release.insert(QStringLiteral("payload.bin"), TestFiles::noise(300 * 1000, 4));
    QVERIFY(scene.installClient(Scene::version1()));
    QVERIFY(scene.publish(2, release, Scene::version1()));
    // Trickled, so that the downloads last long enough to be drawn.
    QVERIFY2(scene.nginx.start(scene.path(QStringLiteral("nginx")), {{scene.mirror(), false, 200 * 1000}}),
        qPrintable(scene.nginx.errorText()));
    QVERIFY(scene.writeMirrorsIni({scene.nginx.url(0)}));

    const ToolProcess::Result run =
        runOnTerminal(scene, {QStringLiteral("--console"), clientType, QStringLiteral("2")});
    const QString& output = run.out;
    QVERIFY2(run.exitCode == 0, qPrintable(output));
    QCOMPARE(scene.releaseFilesInClient(), release);

    // The line is redrawn in place: back to the start of the line, erased, drawn.
    static const QRegularExpression progress(
        QStringLiteral("\r\x1b\\[KDownloading +\\d+%  \\d+(\\.\\d)? k?B / 3\\d\\d\\.\\d kB"));
    QVERIFY2(progress.match(output).hasMatch(), qPrintable(output));
    // No drawn line is wider than the terminal minus its last column.
    for (const QString& drawn : output.split(QStringLiteral("\x1b[K"))) {
        const QString line = drawn.section(QLatin1Char('\r'), 0, 0).section(QLatin1Char('\n'), 0, 0);
        QVERIFY2(line.size() < 100, qPrintable(line));
    }
    // Log lines come above the line, the summary last, with the line gone.
    QVERIFY2(output.contains(QStringLiteral("Update successfully finished\r\n")), qPrintable(output));
    static const QRegularExpression summary(
        QStringLiteral("\r\x1b\\[KUpdated to 2: 5 files installed, [^\r]*\r\n$"));
    QVERIFY2(summary.match(output).hasMatch(), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestConsole)
#include "tst_console.moc"
