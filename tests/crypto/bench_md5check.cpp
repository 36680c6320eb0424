// Throughput and peak memory of an MD5 file check beside md5sum on the same
// file, plus the whole-file read the check must not fall back to.
// Usage: bench_md5check [size in MiB, default 1024] [runs, default 3]
#include "crypto/checksignaturetaskspecification.h"

#include <algorithm>
#include <cstdio>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "processmemory.h"

namespace {

constexpr qint64 bytesPerMiB = 1024 * 1024;

struct Figures {
    double seconds = 0;
    qint64 peakKiB = 0;
    bool ok = false;
};

template<typename Check>
Figures measureInProcess(Check check)
{
    ProcessMemory::resetPeak();
    QElapsedTimer timer;
    timer.start();
    Figures f;
    f.ok = check();
    f.seconds = double(timer.nsecsElapsed()) / 1e9;
    f.peakKiB = ProcessMemory::statusKiB("VmHWM");
    return f;
}

// GNU time reports md5sum's own peak; measuring our child directly would
// count the pages it shares with this process until exec.
Figures measureMd5sum(const QString& path)
{
    Figures f;
    const QString time = QStandardPaths::findExecutable(QStringLiteral("time"), {QStringLiteral("/usr/bin")});
    if (time.isEmpty())
        return f;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(time, {QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("md5sum"), path});
    if (!process.waitForFinished(-1))
        return f;
    f.seconds = double(timer.nsecsElapsed()) / 1e9;
    f.peakKiB = process.readAllStandardError().trimmed().split('\n').last().toLongLong();
    f.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return f;
}

// baselineKiB is subtracted to show what the check itself added (0 for md5sum).
void print(const char* name, const QList<Figures>& runs, qint64 sizeMiB, qint64 baselineKiB)
{
    QList<double> times;
    qint64 peak = 0;
    bool ok = true;
    for (const Figures& f : runs) {
        times << f.seconds;
        peak = std::max(peak, f.peakKiB);
        ok = ok && f.ok;
    }
    std::sort(times.begin(), times.end());
    const double median = times.value(times.size() / 2);
    std::printf("%-30s %6.0f MiB/s  median %6.2f s  best %6.2f s  peak RSS %7.1f MiB", name,
        double(sizeMiB) / median, median, times.value(0), double(peak) / 1024.0);
    if (baselineKiB > 0)
        std::printf("  (+%.1f MiB)", double(peak - baselineKiB) / 1024.0);
    std::printf("%s\n", ok ? "" : "  FAILED");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 sizeMiB = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const int runs = argc > 2 ? QByteArray(argv[2]).toInt() : 3;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("release.bin"));
    QString md5;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QCryptographicHash hash(QCryptographicHash::Md5);
        QByteArray block(int(4 * bytesPerMiB), Qt::Uninitialized);
        for (qint64 written = 0; written < sizeMiB * bytesPerMiB; written += block.size()) {
            for (int i = 0; i < block.size(); i += 8)
                *reinterpret_cast<quint64*>(block.data() + i) = quint64(written + i) * 0x9E3779B97F4A7C15ull;
            hash.addData(block);
            if (file.write(block) != block.size())
                return 1;
        }
        md5 = QString::fromLatin1(hash.result().toHex());
    }
    std::printf("file: %lld MiB in %s (page cache warm after writing), %d runs each\n", sizeMiB,
        qPrintable(dir.path()), runs);
    const qint64 baselineKiB = ProcessMemory::statusKiB("VmRSS");
    std::printf("baseline RSS of this process: %.1f MiB; (+...) is the growth above it\n",
        double(baselineKiB) / 1024.0);

    QList<Figures> md5sumRuns, checkRuns, wholeRuns;
    for (int i = 0; i < runs; ++i) {
        md5sumRuns << measureMd5sum(path);
        checkRuns << measureInProcess([&] { return CheckSigFunc(path, md5).run(); });
    }
    // How the check behaved before it streamed: the whole file in memory.
    wholeRuns << measureInProcess([&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly)
            && QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex())
            == md5;
    });

    print("md5sum", md5sumRuns, sizeMiB, 0);
    print("CheckSigFunc (streamed MD5)", checkRuns, sizeMiB, baselineKiB);
    print("whole-file read (before)", wholeRuns, sizeMiB, baselineKiB);
    return 0;
}
