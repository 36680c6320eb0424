// Benchmark: one DownloadTaskSpecification fetching a large file from the
// loopback test server, through the updater's own HTTP client and through
// the toolkit's, beside curl fetching the same file from the same server.
// Prints the throughputs and their ratios to curl's.
//   bench_download [MiB, default 1024] [runs, default 1; the best run counts]
#include <algorithm>
#include <cstdio>

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "mirrorsfixture.h"
#include "net/downloadtaskspecification.h"
#include "net/mirrors.h"
#include "net/updaternetworkmanager.h"
#include "testfiles.h"
#include "testhttpserver.h"

namespace {

constexpr int version = 42;

// CPU time of this process (server thread included) and of its waited-for
// children (curl), in ms: less disturbed by a busy machine than wall time.
qint64 cpuMs()
{
    const auto ms = [](const rusage& usage) {
        return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
            + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
    };
    rusage self {}, children {};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return ms(self) + ms(children);
}

double mibPerSecond(qint64 bytes, qint64 ms)
{
    return ms > 0 ? double(bytes) / (1024.0 * 1024.0) / (double(ms) / 1000.0) : 0.0;
}

// Compares a few slices of the file with the generated body.
bool spotCheck(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != size)
        return false;
    for (const qint64 offset : {qint64(0), size / 3, std::max<qint64>(size - 4096, 0)}) {
        file.seek(offset);
        const qint64 length = std::min<qint64>(4096, size - offset);
        if (file.read(length) != TestHttpServer::generatedBytes(offset, length))
            return false;
    }
    return true;
}

// Milliseconds for one task run, -1 on failure.
qint64 runTask(QNetworkAccessManager& manager, const QString& iniPath, const QString& target, qint64 size)
{
    Mirrors mirrors(nullptr);
    mirrors.initDefault(iniPath, version);
    DownloadTaskSpecification task(&manager, &mirrors, QStringLiteral("big.bin"), target, size, nullptr, 1.0);

    // The engine's one-second tick runs during a real update, so it runs here.
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &task, [&task] { task.timeTick(); });
    QEventLoop loop;
    QObject::connect(&task, &TaskSpecification::finished, &loop, &QEventLoop::quit);
    QObject::connect(&task, &TaskSpecification::canceled, &loop, &QEventLoop::quit);
    QObject::connect(&task, &TaskSpecification::message,
        [](const QString& line) { std::fprintf(stderr, "  task: %s\n", qPrintable(line)); });

    QElapsedTimer clock;
    clock.start();
    tick.start(1000);
    task.execute();
    loop.exec();
    const qint64 ms = clock.elapsed();
    return task.state() == TaskSpecification::Finished && spotCheck(target, size) ? ms : -1;
}

// Milliseconds for one curl run, -1 on failure.
qint64 runCurl(const QString& url, const QString& target, qint64 size)
{
    QProcess curl;
    QElapsedTimer clock;
    clock.start();
    curl.start(
        QStringLiteral("curl"), {"--silent", "--show-error", "--noproxy", "*", "--output", target, url});
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0) {
        std::fprintf(stderr, "curl failed: %s\n", curl.readAllStandardError().constData());
        return -1;
    }
    const qint64 ms = clock.elapsed();
    return spotCheck(target, size) ? ms : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const int runs = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 1;
    const qint64 size = mib * 1024 * 1024;

    // The server gets a thread of its own, so that curl and the task both
    // compete with a server that is not sharing their event loop.
    QThread serverThread;
    TestHttpServer* server = TestHttpServer::startInThread(serverThread);
    if (!server) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    server->setAnswer(
        QStringLiteral("/bench/%1/big.bin").arg(version), TestHttpServer::Answer::generated(size));

    QTemporaryDir dir;
    const QString iniPath = dir.filePath(QStringLiteral("mirrors.ini"));
    TestFiles::write(iniPath, MirrorsFixture::ini({{"bench", server->baseUrl() + "/bench"}}));
    const QString url = QStringLiteral("%1/bench/%2/big.bin").arg(server->baseUrl()).arg(version);
    const QString target = dir.filePath(QStringLiteral("big.bin"));

    UpdaterNetworkManager own;
    QNetworkAccessManager toolkit;
    own.setProxy(QNetworkProxy::NoProxy);
    toolkit.setProxy(QNetworkProxy::NoProxy);
    qint64 bestOwn = -1;
    qint64 bestToolkit = -1;
    qint64 bestCurl = -1;
    const auto keepBest = [](qint64& best, qint64 ms) { best = best < 0 ? ms : std::min(best, ms); };
    for (int run = 0; run < runs; ++run) {
        qint64 cpuBefore = cpuMs();
        const qint64 ownMs = runTask(own, iniPath, target, size);
        const qint64 ownCpu = cpuMs() - cpuBefore;
        QFile::remove(target);
        cpuBefore = cpuMs();
        const qint64 toolkitMs = runTask(toolkit, iniPath, target, size);
        const qint64 toolkitCpu = cpuMs() - cpuBefore;
        QFile::remove(target);
        cpuBefore = cpuMs();
        const qint64 curlMs = runCurl(url, target, size);
        const qint64 curlCpu = cpuMs() - cpuBefore;
        QFile::remove(target);
        if (ownMs < 0 || toolkitMs < 0 || curlMs < 0) {
            std::fprintf(stderr, "run %d failed (own %lld ms, toolkit %lld ms, curl %lld ms)\n", run + 1,
                ownMs, toolkitMs, curlMs);
            return 1;
        }
        std::printf(
            "run %d: task with UpdaterNetworkManager %lld ms (cpu %lld ms), with QNetworkAccessManager %lld "
            "ms (cpu %lld ms), curl %lld ms (cpu %lld ms); cpu counts the server too\n",
            run + 1, ownMs, ownCpu, toolkitMs, toolkitCpu, curlMs, curlCpu);
        keepBest(bestOwn, ownMs);
        keepBest(bestToolkit, toolkitMs);
        keepBest(bestCurl, curlMs);
    }

    const double ownRate = mibPerSecond(size, bestOwn);
    const double toolkitRate = mibPerSecond(size, bestToolkit);
    const double curlRate = mibPerSecond(size, bestCurl);
    std::printf("file: %lld MiB from %s, best of %d run(s)\n", mib, qPrintable(url), runs);
    std::printf("task, UpdaterNetworkManager:     %lld ms, %.1f MiB/s\n", bestOwn, ownRate);
    std::printf("task, QNetworkAccessManager: %lld ms, %.1f MiB/s\n", bestToolkit, toolkitRate);
    std::printf("curl:                        %lld ms, %.1f MiB/s\n", bestCurl, curlRate);
    std::printf("ratio to curl: UpdaterNetworkManager %.2f, QNetworkAccessManager %.2f\n",
        curlRate > 0 ? ownRate / curlRate : 0.0, curlRate > 0 ? toolkitRate / curlRate : 0.0);
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    // The test server runs in this process too; its share is small and fixed.
    std::printf("peak memory of this process: %.1f MiB\n", usage.ru_maxrss / 1024.0);

    serverThread.quit();
    serverThread.wait();
    return 0;
}
