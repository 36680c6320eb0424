// Benchmark: whole updates through the main task, from two mirrors on a
// loopback server into an empty client directory.
//   bench_pipeline [small|large]...   (default: both)
// small: 20,000 files of 1 to 4 KiB in 200 directories; large: 1 GiB in four
// files. Prints the wall time, the time per file, the time spent in each
// stage and the peak resident memory of the updater side. Set
// BENCH_SMALL_FILES or BENCH_LARGE_MIB for other sizes. The server runs in a
// child process (this program with --serve), so that its buffers and the
// release description do not count in the updater's memory.
#include "update/maintaskspecification.h"

#include "crypto/tomcryptutil.h"
#include "mirrorsfixture.h"
#include "net/mirrors.h"
#include "processmemory.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testrelease.h"
#include "update/updateparameters.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include <sys/prctl.h>

namespace {

const QStringList stageLines {
    QStringLiteral("Download / check product ini"),
    QStringLiteral("Compiling download and replace list"),
    QStringLiteral("Downloading files"),
    QStringLiteral("Starting file updates"),
    QStringLiteral("Starting deleting files"),
};

// The releases both processes build alike from the same numbers.
TestRelease smallRelease(qint64& bytes)
{
    const int count = qEnvironmentVariableIsSet("BENCH_SMALL_FILES")
        ? qEnvironmentVariableIntValue("BENCH_SMALL_FILES")
        : 20000;
    TestRelease release(1001);
    bytes = 0;
    for (int i = 0; i < count; ++i) {
        const qint64 size = 1024 + (i * 997) % 3073;
        release.addGeneratedFile(QStringLiteral("d%1/f%2.dat").arg(i % 200).arg(i), size);
        bytes += size;
    }
    return release;
}

TestRelease largeRelease(qint64& bytes)
{
    const qint64 mib =
        qEnvironmentVariableIsSet("BENCH_LARGE_MIB") ? qEnvironmentVariableIntValue("BENCH_LARGE_MIB") : 1024;
    TestRelease release(1002);
    const qint64 each = mib * (1 << 20) / 4;
    for (int i = 0; i < 4; ++i)
        release.addGeneratedFile(QStringLiteral("big/part%1.bin").arg(i), each);
    bytes = 4 * each;
    return release;
}

const QStringList mirrorNames {QStringLiteral("A"), QStringLiteral("B")};

// Child process: serves both releases on both mirrors until terminated,
// at the latest when its parent ends.
int serve()
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    TestHttpServer server;
    if (!server.listen())
        return 1;
    qint64 bytes = 0;
    for (const TestRelease& release : {smallRelease(bytes), largeRelease(bytes)}) {
        for (const QString& mirror : mirrorNames)
            release.serve(server, mirror);
    }
    std::printf("%d\n", server.port());
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// Only the URL matters to the registry; a server object is not needed.
bool writeMirrorsIni(const QString& path, quint16 port)
{
    QList<MirrorsFixture::Entry> mirrors;
    for (const QString& mirror : mirrorNames)
        mirrors.append({mirror, QStringLiteral("http://127.0.0.1:%2/%1").arg(mirror).arg(port)});
    return TestFiles::write(path, MirrorsFixture::ini(mirrors));
}

bool runUpdate(const char* name, int version, int files, qint64 bytes, quint16 port)
{
    QTemporaryDir root;
    const QString clientDir = root.filePath(QStringLiteral("client"));
    UpdateParameters parameters;
    parameters.clientDir = clientDir;
    parameters.clientType = QStringLiteral("client_linux_amd64");
    parameters.clientVersion = version;
    parameters.tempDir = root.filePath(QStringLiteral("corvane_temp_1"));
    parameters.downloadConcurrency = 6;
    QDir().mkpath(clientDir);
    QDir().mkpath(parameters.tempDir);

    const QString iniPath = clientDir + QStringLiteral("/mirrors.ini");
    writeMirrorsIni(iniPath, port);
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    Mirrors mirrors(nullptr);
    mirrors.initDefault(iniPath, version);

    auto* task = new MainTaskSpecification(&manager, &mirrors, parameters, nullptr, 1.0);
    QElapsedTimer clock;
    QList<qint64> stageStart;
    QStringList failures;
    QObject::connect(task, &TaskSpecification::message, [&](const QString& line) {
        if (stageLines.value(stageStart.size()) == line)
            stageStart.append(clock.elapsed());
        if ((line.startsWith(QLatin1String("Warning")) || line.startsWith(QLatin1String("Could not")))
            && failures.size() < 5)
            failures.append(line);
    });
    QTimer ticker; // the engine's one-second poll, which also drives the stall time-out
    QObject::connect(&ticker, &QTimer::timeout, task, [task] {
        quint64 done = 0, total = 0, speed = 0;
        bool downloading = false;
        task->timeTick(done, total, speed, downloading);
    });
    QEventLoop loop;
    QObject::connect(task, &TaskSpecification::finished, &loop, &QEventLoop::quit);
    QObject::connect(task, &TaskSpecification::canceled, &loop, &QEventLoop::quit);

    ProcessMemory::resetPeak();
    const long baseKiB = long(ProcessMemory::statusKiB("VmHWM"));
    clock.start();
    ticker.start(1000);
    task->execute();
    loop.exec();
    const qint64 wallMs = clock.elapsed();
    const long runPeakKiB = long(ProcessMemory::statusKiB("VmHWM"));
    const bool ok = task->state == TaskSpecification::Finished;
    delete task;

    std::printf(
        "%s: %d files, %.1f MiB: %s\n", name, files, double(bytes) / (1 << 20), ok ? "finished" : "FAILED");
    for (const QString& line : std::as_const(failures))
        std::printf("  %s\n", qPrintable(line));
    std::printf("  wall time %.2f s, %.3f ms per file, %.1f MiB/s\n", wallMs / 1000.0, double(wallMs) / files,
        double(bytes) / (1 << 20) / (wallMs / 1000.0));
    stageStart.append(wallMs);
    for (int i = 0; i + 1 < stageStart.size(); ++i) {
        std::printf("  stage %d (%s): %.2f s\n", i + 1, qPrintable(stageLines.at(i)),
            (stageStart.at(i + 1) - stageStart.at(i)) / 1000.0);
    }
    std::printf(
        "  peak resident memory %.1f MiB (%.1f MiB before the run)\n", runPeakKiB / 1024.0, baseKiB / 1024.0);
    std::fflush(stdout);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList which = app.arguments().mid(1);
    if (which == QStringList {QStringLiteral("--serve")})
        return serve();
    if (which.isEmpty())
        which = QStringList {QStringLiteral("small"), QStringLiteral("large")};
    if (!TestRelease::hasSigningKey()) {
        std::fprintf(stderr, "this build embeds a publisher's key; nothing can be signed\n");
        return 0;
    }

    crypt_init(); // as the engine does before an update
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(app.applicationFilePath(), {QStringLiteral("--serve")});
    if (!server.waitForReadyRead(120000)) {
        std::fprintf(stderr, "the server process did not start\n");
        return 1;
    }
    const quint16 port = quint16(server.readLine().trimmed().toUInt());

    bool ok = true;
    qint64 bytes = 0;
    if (which.contains(QStringLiteral("small"))) {
        const int files = int(smallRelease(bytes).entries().size());
        ok = runUpdate("small files", 1001, files, bytes, port) && ok;
    }
    if (which.contains(QStringLiteral("large"))) {
        const int files = int(largeRelease(bytes).entries().size());
        ok = runUpdate("large files", 1002, files, bytes, port) && ok;
    }
    server.terminate();
    server.waitForFinished(5000);
    return ok ? 0 : 1;
}
