// Power cuts during the installation, played with SIGKILL on the real updater:
// the kills come at many moments of the installation, timed by watching the
// client directory with inotify. After every kill each file must hold a whole
// version of itself and the updater must still start; the run that gets
// through must leave the release to the byte and nothing else behind. The
// runs use the console form, which starts at once where the window waits two
// seconds; one moment is played on the window as well, and a console run
// takes over the session the window left.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include "scene.h"
#include "testfiles.h"
#include "testsigning.h"
#include "updaterrun.h"

namespace {

// Each run of the sweep is cut this many changes of the client directory
// later than the one before, counted from its own start; the later runs
// have less left to do, so a small step puts cuts all over the installation.
constexpr int sweepStep = 2;
constexpr int maxRuns = 40;

// The updater as built, and a release of it that differs in its bytes but
// runs all the same: trailing bytes after an ELF image are never loaded.
QByteArray oldUpdater()
{
    return Scene::builtUpdater();
}

QByteArray newUpdater()
{
    return Scene::builtUpdater() + QByteArray("\ncorvane updater, release 2\n");
}

QByteArray text(const QByteArray& line, int repeat)
{
    return line.repeated(repeat);
}

// data with a few bytes changed all over it: what a new version of a binary
// looks like, and what a patch carries cheaply.
QByteArray edited(QByteArray data)
{
    for (qsizetype at = 1000; at < data.size(); at += 8000)
        data[at] = char(data.at(at) ^ 0x5a);
    return data;
}

Files version1()
{
    Files files {
        {QStringLiteral("readme.txt"), "Corvane 1\n"},
        {QStringLiteral("payload.bin"), TestFiles::noise(1 << 20, 1)},
        {QStringLiteral("data/level.dat"), text("level data of version 1\n", 1 << 17)},
        {QStringLiteral("data/same.dat"), "unchanged in every version\n"},
        {QStringLiteral("docs/obsolete.txt"), "gone in version 2\n"},
    };
    for (int i = 0; i < 8; ++i)
        files.insert(QStringLiteral("lib/libpart%1.so").arg(i), TestFiles::noise(40000 + i, 10 + i));
    return files;
}

Files version2()
{
    Files files {
        {QStringLiteral("readme.txt"), "Corvane 2\n"},
        {QStringLiteral("payload.bin"), edited(TestFiles::noise(1 << 20, 1))},
        {QStringLiteral("data/level.dat"), text("level data of version 2, longer\n", 1 << 17)},
        {QStringLiteral("data/same.dat"), "unchanged in every version\n"},
        {QStringLiteral("extras/new/welcome.txt"), "new in version 2\n"},
        {QStringLiteral("update"), newUpdater()},
    };
    for (int i = 0; i < 8; ++i)
        files.insert(QStringLiteral("lib/libpart%1.so").arg(i), edited(TestFiles::noise(40000 + i, 10 + i)));
    return files;
}

// Version 3 is version 2 published with patches from version 1.
const QString plainRelease = QStringLiteral("2");
const QString patchedRelease = QStringLiteral("3");

QStringList console(const QString& version)
{
    return {QStringLiteral("--console"), clientType, version};
}

const QStringList watchedDirs {
    QString(), QStringLiteral("lib"), QStringLiteral("data"), QStringLiteral("docs")};

// Names appearing in and going from directories, read without an event loop
// so that the kill follows the event as closely as the scheduler allows.
class NameEvents final {
public:
    struct Event {
        QString path; // relative to the watched root
        quint32 mask;
    };

    NameEvents()
        : fd(inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
    {
    }
    ~NameEvents()
    {
        if (fd >= 0)
            ::close(fd);
    }
    NameEvents(const NameEvents&) = delete;
    NameEvents& operator=(const NameEvents&) = delete;

    bool watch(const QString& root, const QString& relative)
    {
        const int wd =
            inotify_add_watch(fd, QFile::encodeName(root + QLatin1Char('/') + relative).constData(),
                IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE);
        if (wd < 0)
            return false;
        dirs.insert(wd, relative.isEmpty() ? QString() : relative + QLatin1Char('/'));
        return true;
    }

    // The events that arrive within timeoutMs (at least one unless time runs out).
    QList<Event> next(int timeoutMs)
    {
        QList<Event> events;
        pollfd waiting {fd, POLLIN, 0};
        if (::poll(&waiting, 1, timeoutMs) <= 0)
            return events;
        alignas(inotify_event) char buffer[16384];
        const ssize_t size = ::read(fd, buffer, sizeof buffer);
        for (ssize_t at = 0; at < size;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0)
                events.append({dirs.value(event->wd) + QFile::decodeName(event->name), event->mask});
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
        return events;
    }

private:
    int fd;
    QHash<int, QString> dirs;
};

// A name the installation creates, replaces or deletes: a release file, an
// old copy set aside or any other name beside a release file that is not
// one of the updater's settings.
bool isInstallationEvent(const NameEvents::Event& event)
{
    const QString name = QFileInfo(event.path).fileName();
    return !name.startsWith(QLatin1String("update.ini")) && name != QLatin1String("mirrors.ini")
        && name != QLatin1String("update.lock");
}

} // namespace

class TestCrashSafety : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void killsLeaveWholeFiles_data();
    void killsLeaveWholeFiles();

private:
    bool resetClient();
    enum Outcome { Killed, EndedByItself, NotStarted };
    // Runs the update with args and kills it once stop(event number, event) is true.
    Outcome runUntil(const QStringList& args, const std::function<bool(int, const NameEvents::Event&)>& stop,
        UpdaterRun& run);
    QStringList tornFiles() const;
    // Waits for the end of a run that was not killed and checks the result.
    void checkConverged(UpdaterRun& run);

    Scene scene;
};

void TestCrashSafety::initTestCase()
{
    if (NginxServer::binary().isEmpty())
        QSKIP("nginx is not installed (scripts/setup.sh installs it); this test needs a real web server");
    if (TestSigning::devPrivateKeyPath().isEmpty())
        QSKIP("This build embeds a publisher's key; this test signs with the development key");
    // As version 1 was installed: the patches start from what clients have.
    Files installed1 = version1();
    installed1.insert(QStringLiteral("update"), oldUpdater());
    QVERIFY(scene.publish(1, installed1, {}, {QStringLiteral("--gzip")}));
    QVERIFY(scene.publish(2, version2(), version1(), {QStringLiteral("--gzip")}));
    QVERIFY(scene.publish(3, version2(), version1(),
        {QStringLiteral("--gzip"), QStringLiteral("--delta-from"), scene.mirror() + QStringLiteral("/1")}));
    // The patched release must carry patches for the sweep to mean anything.
    QVERIFY(QFileInfo::exists(scene.mirror() + QStringLiteral("/3/patches/1/payload.bin")));
    QVERIFY(QFileInfo::exists(scene.mirror() + QStringLiteral("/3/patches/1/update")));
    QVERIFY2(scene.nginx.start(scene.path(QStringLiteral("nginx")), {{scene.mirror()}}),
        qPrintable(scene.nginx.errorText()));
}

bool TestCrashSafety::resetClient()
{
    QDir(scene.client()).removeRecursively();
    return scene.installClient(version1(), oldUpdater()) && scene.writeMirrorsIni({scene.nginx.url(0)});
}

TestCrashSafety::Outcome TestCrashSafety::runUntil(
    const QStringList& args, const std::function<bool(int, const NameEvents::Event&)>& stop, UpdaterRun& run)
{
    NameEvents events;
    for (const QString& dir : watchedDirs) {
        if (!events.watch(scene.client(), dir))
            return NotStarted;
    }
    if (!run.start(scene, args))
        return NotStarted;
    int seen = 0;
    const QDeadlineTimer deadline(runTimeoutMs);
    while (!deadline.hasExpired()) {
        for (const NameEvents::Event& event : events.next(50)) {
            if (isInstallationEvent(event) && stop(++seen, event)) {
                run.killHard();
                return Killed;
            }
        }
        // Reading the log also keeps the pipe from filling up and blocking the updater.
        if (!run.stillRunning() || run.log().contains(QLatin1String("Update successfully finished")))
            break;
    }
    return EndedByItself;
}

QStringList TestCrashSafety::tornFiles() const
{
    QStringList torn;
    const Files before = version1();
    const Files after = version2();
    QStringList names = before.keys() + after.keys();
    names.removeDuplicates();
    for (const QString& name : std::as_const(names)) {
        const QString path = scene.client() + QLatin1Char('/') + name;
        if (!QFileInfo::exists(path)) {
            // Only a file that one of the versions lacks may be missing.
            if (before.contains(name) && after.contains(name) && name != QLatin1String("update"))
                torn.append(QStringLiteral("missing: ") + name);
            continue;
        }
        const QByteArray content = TestFiles::read(path);
        const QByteArray old = name == QLatin1String("update") ? oldUpdater() : before.value(name);
        if (content != old && content != after.value(name))
            torn.append(QStringLiteral("torn: %1 (%2 bytes)").arg(name).arg(content.size()));
    }
    const QString updater = scene.client() + QStringLiteral("/update");
    if (!QFileInfo(updater).isExecutable())
        torn.append(QStringLiteral("update is missing or not executable"));
    return torn;
}

void TestCrashSafety::checkConverged(UpdaterRun& run)
{
    QCOMPARE(run.waitForExit(runTimeoutMs), 0);
    QVERIFY2(run.log().contains(QLatin1String("Update successfully finished")),
        qPrintable(diagnostics(scene, run)));

    Files expected = version2();
    expected.remove(QStringLiteral("update"));
    Files installed = scene.releaseFilesInClient();
    // The updater's own old copy waits for its next start, by design.
    if (installed.value(QStringLiteral("_old_update")) == oldUpdater())
        installed.remove(QStringLiteral("_old_update"));
    const QStringList wrong = Scene::differences(expected, installed);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(", ")) + QLatin1Char('\n') + run.log()));
    const QString updater = scene.client() + QStringLiteral("/update");
    QVERIFY(TestFiles::read(updater) == newUpdater());
    // Nobody but its owner may change the program the next update runs.
    QVERIFY(!(QFileInfo(updater).permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther)));
    QCOMPARE(scene.tempLeftovers(), QStringList());
}

void TestCrashSafety::killsLeaveWholeFiles_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("args"); // of the first run; the later ones use the console

    const QStringList window {QStringLiteral("--nouser"), clientType, plainRelease, QStringLiteral("#")};
    // Each run is cut a few changes later than the one before, until one
    // gets through: the cuts fall all over the installation.
    QTest::newRow("one kill after another") << QString() << plainRelease << console(plainRelease);
    QTest::newRow("one kill after another, files patched")
        << QString() << patchedRelease << console(patchedRelease);
    // The updater's own file is replaced while it runs.
    QTest::newRow("when _old_update appears")
        << QStringLiteral("_old_update") << plainRelease << console(plainRelease);
    QTest::newRow("when _old_update appears, in the window")
        << QStringLiteral("_old_update") << plainRelease << window;
    QTest::newRow("when the patched _old_update appears")
        << QStringLiteral("_old_update") << patchedRelease << console(patchedRelease);
    QTest::newRow("while the big file is written")
        << QStringLiteral("level.dat") << plainRelease << console(plainRelease);
    QTest::newRow("while the old copies are deleted")
        << QStringLiteral("-_old_") << plainRelease << console(plainRelease);
}

void TestCrashSafety::killsLeaveWholeFiles()
{
    QFETCH(QString, trigger);
    QFETCH(QString, version);
    QFETCH(QStringList, args);
    QVERIFY(resetClient());
    const bool deletion = trigger.startsWith(QLatin1Char('-'));
    if (deletion)
        trigger.remove(0, 1);

    for (int attempt = 0; attempt < maxRuns; ++attempt) {
        const int at = 1 + sweepStep * attempt;
        UpdaterRun run;
        const Outcome outcome = runUntil(
            attempt == 0 ? args : console(version),
            [&](int number, const NameEvents::Event& event) {
                if (trigger.isEmpty())
                    return number >= at;
                const bool appears = event.mask & (IN_CREATE | IN_MOVED_TO);
                const bool goes = event.mask & IN_DELETE;
                const QString name = QFileInfo(event.path).fileName();
                return deletion ? goes && name.startsWith(trigger) : appears && name.endsWith(trigger);
            },
            run);
        QVERIFY2(outcome != NotStarted, "the updater that the kill left behind does not start");
        if (outcome == EndedByItself) {
            // Through: the kills before must not keep it from the release.
            QVERIFY2(attempt > 0, qPrintable("the updater was never killed\n" + run.log()));
            qInfo("%d kills before a run got through", attempt);
            checkConverged(run);
            return;
        }
        const QStringList torn = tornFiles();
        QVERIFY2(torn.isEmpty(), qPrintable(torn.join(QStringLiteral(", "))));
        // A kill at a named moment is followed by one whole run.
        if (!trigger.isEmpty())
            trigger = QStringLiteral("(never)");
    }
    QFAIL("no run got through");
}

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
