// The updater side of the update benchmark.
#include "benchupdater.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThread>
#include <QTimer>

#include <cstdio>

#include "crypto/tomcryptutil.h"
#include "net/mirrors.h"
#include "net/updaternetworkmanager.h"
#include "processmemory.h"
#include "update/maintaskspecification.h"
#include "update/updateparameters.h"

namespace BenchUpdater {

namespace {

const QStringList stageLines {
    QStringLiteral("Download / check product ini"),
    QStringLiteral("Compiling download and replace list"),
    QStringLiteral("Downloading files"),
    QStringLiteral("Starting file updates"),
    QStringLiteral("Starting deleting files"),
};
const QStringList stageNames {QStringLiteral("ini"), QStringLiteral("lists"), QStringLiteral("download"),
    QStringLiteral("install"), QStringLiteral("delete")};

QStringList setupArguments(const Setup& setup)
{
    return {QStringLiteral("--update"), setup.clientDir, setup.tempDir, setup.mirrorsIni,
        QString::number(setup.version), setup.caFile};
}

// The child prints "result <ok> <ms> <peak KiB> <peak anonymous KiB> <download ms>",
// "stages <text>" and
// "failure <line>"; anything else is ignored.
Result parse(const QByteArray& output)
{
    Result result;
    for (const QByteArray& line : output.split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (text.startsWith(QLatin1String("result "))) {
            const QStringList fields = text.split(QLatin1Char(' '));
            result.ok = fields.value(1) == QLatin1String("1");
            result.seconds = fields.value(2).toDouble() / 1000.0;
            result.peakMiB = fields.value(3).toDouble() / 1024.0;
            result.peakAnonMiB = fields.value(4).toDouble() / 1024.0;
            result.downloadSeconds = fields.value(5).toDouble() / 1000.0;
        } else if (text.startsWith(QLatin1String("stages "))) {
            result.stages = text.mid(7);
        } else if (text.startsWith(QLatin1String("failure "))) {
            result.failures.append(text.mid(8));
        }
    }
    return result;
}

} // namespace

int childMain(const QStringList& arguments)
{
    if (arguments.size() != 6)
        return 2;
    // Trusted as a system certificate would be, for this process only: the
    // updater's own checks stay as they are.
    if (!arguments.at(5).isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(QSslCertificate::fromPath(arguments.at(5)));
        QSslConfiguration::setDefaultConfiguration(tls);
    }
    UpdateParameters parameters;
    parameters.clientDir = arguments.at(1);
    parameters.tempDir = arguments.at(2);
    parameters.clientType = QStringLiteral("client_linux_amd64");
    parameters.clientVersion = arguments.at(4).toInt();
    parameters.downloadConcurrency = 6;

    crypt_init(); // as the engine does before an update
    // The engine's manager: direct GETs go through our own HTTP client.
    UpdaterNetworkManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    Mirrors mirrors(nullptr);
    mirrors.initDefault(arguments.at(3), parameters.clientVersion);

    auto* task = new MainTaskSpecification(&manager, &mirrors, parameters, nullptr, 1.0);
    QElapsedTimer clock;
    QList<qint64> stageStart;
    // The peak resident memory when each stage began: which stage raised it.
    QList<qint64> peakBefore;
    QStringList failures;
    // BENCH_LOG names a file that gets the updater's log of the run.
    QFile log(qEnvironmentVariable("BENCH_LOG"));
    if (!log.fileName().isEmpty())
        log.open(QIODevice::WriteOnly | QIODevice::Append);
    QObject::connect(task, &TaskSpecification::message, [&](const QString& line) {
        if (log.isOpen())
            log.write(line.toUtf8() + '\n');
        if (stageLines.value(stageStart.size()) == line) {
            stageStart.append(clock.elapsed());
            peakBefore.append(ProcessMemory::statusKiB("VmHWM"));
        }
        if ((line.startsWith(QLatin1String("Warning")) || line.startsWith(QLatin1String("Could not")))
            && failures.size() < 5)
            failures.append(line);
    });
    QObject::connect(task, &TaskSpecification::error, [&](const QString& line) {
        if (log.isOpen())
            log.write("error: " + line.toUtf8() + '\n');
        if (failures.size() < 5)
            failures.append(line);
    });
    // The kernel keeps no peak of the anonymous memory alone (the heap and
    // the stacks, not the files mapped): sampled often enough to see a
    // buffer that lives for one step.
    qint64 peakAnonKiB = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
        [&peakAnonKiB] { peakAnonKiB = qMax(peakAnonKiB, ProcessMemory::statusKiB("RssAnon")); });
    sampler.start(5);
    QTimer ticker; // the engine's one-second poll, which also drives the stall time-out
    QObject::connect(&ticker, &QTimer::timeout, task, [task] { task->timeTick(); });
    QEventLoop loop;
    QObject::connect(task, &TaskSpecification::finished, &loop, &QEventLoop::quit);
    QObject::connect(task, &TaskSpecification::canceled, &loop, &QEventLoop::quit);

    clock.start();
    ticker.start(1000);
    task->execute();
    loop.exec();
    const qint64 wallMs = clock.elapsed();
    const bool ok = task->state() == TaskSpecification::Finished;
    delete task;

    QString stages;
    stageStart.append(wallMs);
    peakBefore.append(ProcessMemory::statusKiB("VmHWM"));
    for (int i = 0; i + 1 < stageStart.size(); ++i) {
        stages += QStringLiteral("%1%2 %3 s, peak %4 MiB")
                      .arg(i == 0 ? QString() : QStringLiteral("; "), stageNames.at(i))
                      .arg((stageStart.at(i + 1) - stageStart.at(i)) / 1000.0, 0, 'f', 2)
                      .arg(peakBefore.at(i + 1) / 1024.0, 0, 'f', 1);
    }
    // The download stage ends where the installation begins.
    const qint64 downloadMs = stageStart.size() > 3 ? stageStart.at(3) - stageStart.at(2) : 0;
    std::printf("result %d %lld %lld %lld %lld\nstages %s\n", ok ? 1 : 0, static_cast<long long>(wallMs),
        static_cast<long long>(ProcessMemory::statusKiB("VmHWM")), static_cast<long long>(peakAnonKiB),
        static_cast<long long>(downloadMs), qPrintable(stages));
    for (const QString& line : std::as_const(failures))
        std::printf("failure %s\n", qPrintable(line));
    std::fflush(stdout);
    return ok ? 0 : 1;
}

Result run(const QString& program, const Setup& setup)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, setupArguments(setup));
    child.waitForFinished(-1);
    return parse(child.readAllStandardOutput());
}

Result runAndKill(const QString& program, const Setup& setup, const QString& watchedFile, qint64 killAtBytes)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, setupArguments(setup));
    Result result;
    while (!child.waitForFinished(5)) {
        if (child.state() == QProcess::NotRunning)
            break;
        if (QFileInfo(watchedFile).size() >= killAtBytes) {
            child.kill();
            child.waitForFinished(-1);
            result.killed = true;
            return result;
        }
    }
    return parse(child.readAllStandardOutput());
}

} // namespace BenchUpdater
