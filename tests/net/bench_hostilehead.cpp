// Benchmark: a mirror that answers with a huge response head (64 MiB of
// header lines by default), fetched by the toolkit's HTTP client and by the
// updater's own while a good transfer runs on the same manager, and by curl.
// Prints for each how long it took to give the answer up, the CPU it spent,
// and how long the good transfer stood still meanwhile; the ratios compare
// with curl. Each client runs in a child process of its own, stopped after
// the time limit: the toolkit's client cannot be stopped otherwise.
//   bench_hostilehead [header MiB, default 64] [limit in s per client, default 60]
#include <algorithm>
#include <cstdio>
#include <memory>

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include "net/updaternetworkmanager.h"
#include "testhttpserver.h"

namespace {

constexpr qint64 goodBytes = 256 * 1024 * 1024;

qint64 childCpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// The child: fetches the good and the hostile URL at once and prints, once a
// second and at the end, "<ms> <hostile result> <good bytes> <longest stand-still ms>".
int runClient(const QString& kind, const QUrl& hostile, const QUrl& good)
{
    std::unique_ptr<QNetworkAccessManager> manager;
    if (kind == QLatin1String("own"))
        manager = std::make_unique<UpdaterNetworkManager>();
    else
        manager = std::make_unique<QNetworkAccessManager>();
    manager->setProxy(QNetworkProxy::NoProxy);

    QElapsedTimer clock;
    clock.start();
    QString hostileResult = QStringLiteral("pending");
    qint64 goodReceived = 0;
    qint64 lastGoodMs = 0;
    qint64 longestStillMs = 0;
    bool goodDone = false;
    const auto report = [&] {
        std::printf("%lld %s %lld %lld\n", clock.elapsed(), qPrintable(hostileResult), goodReceived,
            std::max(longestStillMs, goodDone ? 0 : clock.elapsed() - lastGoodMs));
        std::fflush(stdout);
    };

    QNetworkReply* goodReply = manager->get(QNetworkRequest(good));
    QObject::connect(goodReply, &QNetworkReply::readyRead, [&] {
        goodReceived += goodReply->readAll().size();
        longestStillMs = std::max(longestStillMs, clock.elapsed() - lastGoodMs);
        lastGoodMs = clock.elapsed();
    });
    QNetworkReply* hostileReply = manager->get(QNetworkRequest(hostile));
    const auto maybeQuit = [&] {
        if (goodDone && hostileResult != QLatin1String("pending")) {
            report();
            QCoreApplication::exit(0);
        }
    };
    QObject::connect(hostileReply, &QNetworkReply::finished, [&] {
        hostileResult = QStringLiteral("refused@%1ms").arg(clock.elapsed());
        if (hostileReply->error() == QNetworkReply::NoError)
            hostileResult = QStringLiteral("accepted@%1ms").arg(clock.elapsed());
        maybeQuit();
    });
    QObject::connect(goodReply, &QNetworkReply::finished, [&] {
        goodReceived += goodReply->readAll().size();
        goodDone = true;
        maybeQuit();
    });
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, report);
    ticker.start(1000);
    return QCoreApplication::exec();
}

struct Outcome {
    QString last; // the child's last report line
    bool ended = false;
    qint64 cpuMs = 0;
};

Outcome runChild(const QString& kind, const QString& hostile, const QString& good, int limitS)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 cpuBefore = childCpuMs();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--client"), kind, hostile, good});
    Outcome outcome;
    outcome.ended = child.waitForFinished(limitS * 1000);
    if (!outcome.ended) {
        child.kill();
        child.waitForFinished(-1);
    }
    const QList<QByteArray> lines = child.readAllStandardOutput().trimmed().split('\n');
    outcome.last = QString::fromLatin1(lines.value(lines.size() - 1));
    outcome.cpuMs = childCpuMs() - cpuBefore;
    return outcome;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.value(1) == QLatin1String("--client"))
        return runClient(args.value(2), QUrl(args.value(3)), QUrl(args.value(4)));

    const qint64 headerMib = args.size() > 1 ? args.at(1).toLongLong() : 64;
    const int limitS = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 60;

    QThread serverThread;
    TestHttpServer* server = TestHttpServer::startInThread(serverThread);
    if (!server) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    TestHttpServer::Answer hostile = TestHttpServer::Answer::ok("never seen");
    hostile.headerPadding = headerMib * 1024 * 1024;
    server->setAnswer(QStringLiteral("/hostile"), hostile);
    server->setAnswer(QStringLiteral("/good"), TestHttpServer::Answer::generated(goodBytes));
    const QString hostileUrl = server->baseUrl() + QStringLiteral("/hostile");
    const QString goodUrl = server->baseUrl() + QStringLiteral("/good");

    std::printf("hostile mirror: %lld MiB of header lines; good mirror: %lld MiB body on the same manager\n",
        headerMib, goodBytes / (1024 * 1024));
    std::printf(
        "limit per client: %d s; columns: time to refuse, CPU, longest stand-still of the good transfer\n",
        limitS);

    QElapsedTimer clock;
    const qint64 curlCpuBefore = childCpuMs();
    clock.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"),
        {"--silent", "--noproxy", "*", "--max-time", QString::number(limitS), "--output", "/dev/null",
            hostileUrl});
    const bool curlRan = curl.waitForFinished((limitS + 5) * 1000);
    const qint64 curlMs = clock.elapsed();
    const qint64 curlCpu = childCpuMs() - curlCpuBefore;
    std::printf("curl:                refused after %lld ms (exit %d), CPU %lld ms\n", curlMs,
        curlRan ? curl.exitCode() : -1, curlCpu);

    for (const QString& kind : {QStringLiteral("toolkit"), QStringLiteral("own")}) {
        const Outcome outcome = runChild(kind, hostileUrl, goodUrl, limitS);
        // "<ms> <hostile result> <good bytes> <longest stand-still ms>"
        const QStringList fields = outcome.last.split(QLatin1Char(' '));
        const QString result = fields.value(1);
        const qint64 refusedMs = result.startsWith(QLatin1String("refused@"))
            ? result.section(QLatin1Char('@'), 1).chopped(2).toLongLong()
            : -1;
        std::printf("%-20s %s, CPU %lld ms, good transfer %s MiB, longest stand-still %s ms%s\n",
            qPrintable(kind == QLatin1String("own") ? QStringLiteral("UpdaterNetworkManager:")
                                                    : QStringLiteral("QNetworkAccessManager:")),
            refusedMs >= 0 ? qPrintable(QStringLiteral("refused after %1 ms").arg(refusedMs))
                           : qPrintable(QStringLiteral("still reading after %1 s").arg(limitS)),
            outcome.cpuMs, qPrintable(QString::number(fields.value(2).toLongLong() / (1024 * 1024))),
            qPrintable(fields.value(3)), outcome.ended ? "" : " (stopped at the limit)");
        if (refusedMs >= 0 && curlMs > 0)
            std::printf(
                "%-20s ratio to curl's time to refuse: %.2f\n", "", double(refusedMs) / double(curlMs));
    }

    serverThread.quit();
    serverThread.wait();
    return 0;
}
