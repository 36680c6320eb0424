// What flushing each installed file to stable storage costs on an update of
// many small files: the copy and unpack workers, against the same copy
// without the flush. Prints figures; never fails.
//   bench_fsync [directory on the disk to measure] [files] [max bytes per file] [rounds]
// The directory should not be a tmpfs, where a flush costs nothing.
#include <algorithm>
#include <cstdio>

#include <functional>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QVector>

#include "fileops/filecopytaskspecification.h"
#include "fileops/fileunziptaskspecification.h"
#include "testfiles.h"

namespace {

// The old way: stream into a new file and leave it to the page cache.
bool copyWithoutFlush(const QString& from, const QString& to)
{
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    return out.write(in.readAll()) == in.size();
}

// Installs every file, two at a time like the replace phase; milliseconds.
double install(int count, const std::function<bool(int)>& one)
{
    QThreadPool pool;
    pool.setMaxThreadCount(2);
    QAtomicInt failures;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        pool.start([&one, &failures, i] {
            if (!one(i))
                failures.ref();
        });
    pool.waitForDone();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (failures.loadRelaxed() != 0)
        std::printf("  (%d files failed)\n", failures.loadRelaxed());
    return ms;
}

double least(const QVector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString base = args.size() > 1 ? args.at(1) : QDir::currentPath();
    const int count = args.size() > 2 ? args.at(2).toInt() : 1000;
    const int maxSize = args.size() > 3 ? args.at(3).toInt() : 16384;
    const int repeats = args.size() > 4 ? args.at(4).toInt() : 9;

    QTemporaryDir dir(base + QStringLiteral("/bench_fsync-XXXXXX"));
    if (!dir.isValid()) {
        std::printf("cannot create a directory in %s\n", qPrintable(base));
        return 0;
    }
    const QStorageInfo storage(dir.path());
    std::printf("%d files of up to %d bytes in %s (%s on %s)\n", count, maxSize, qPrintable(dir.path()),
        storage.fileSystemType().constData(), storage.device().constData());

    qint64 bytes = 0;
    for (int i = 0; i < count; ++i) {
        QByteArray data;
        const int size = 256 + (i * 7919) % (maxSize - 255);
        while (data.size() < size)
            data += QByteArray::number(i * 31 + data.size()) + ' ';
        data.truncate(size);
        bytes += size;
        TestFiles::write(dir.filePath(QStringLiteral("src/%1").arg(i)), data);
        TestFiles::write(dir.filePath(QStringLiteral("src/%1.gz").arg(i)), TestFiles::gzip(data));
    }
    std::printf("%.1f MiB in all\n", double(bytes) / (1024 * 1024));

    const auto src = [&](int i, const char* suffix) {
        return dir.filePath(QStringLiteral("src/%1%2").arg(i).arg(QLatin1String(suffix)));
    };

    // Rounds interleaved and repeated: the disk and the processors are shared
    // with whatever else runs. Each round starts from a clean page cache
    // state, so one round's dirty data is not charged to the next one's fsync
    // (ext4 in ordered mode writes back everything pending on a commit).
    QVector<double> plain, copy, unzip;
    for (int rep = 0; rep < repeats; ++rep) {
        const QString round = dir.filePath(QStringLiteral("round%1").arg(rep));
        for (const char* kind : {"plain", "copy", "unzip"})
            QDir().mkpath(round + QLatin1Char('/') + QLatin1String(kind));
        const auto dst = [&](const char* kind, int i) {
            return QStringLiteral("%1/%2/%3").arg(round, QLatin1String(kind)).arg(i);
        };
        ::sync();
        plain << install(count, [&](int i) { return copyWithoutFlush(src(i, ""), dst("plain", i)); });
        ::sync();
        copy << install(count, [&](int i) { return FileCopyFunc(src(i, ""), dst("copy", i)).run(); });
        ::sync();
        unzip << install(count, [&](int i) { return FileUnzipFunc(src(i, ".gz"), dst("unzip", i)).run(); });
        ::sync();
    }
    // The best round is the one least disturbed by other load; the median
    // shows what a busy machine sees.
    std::printf("%d rounds, two files at a time; best and median\n", repeats);
    const auto row = [count](const char* what, double best, double mid) {
        std::printf("%-20s %9.1f ms %9.1f ms  (%.3f / %.3f ms per file)\n", what, best, mid, best / count,
            mid / count);
    };
    row("copy without flush", least(plain), median(plain));
    row("copy with fsync", least(copy), median(copy));
    row("unpack with fsync", least(unzip), median(unzip));
    row("flush cost", least(copy) - least(plain), median(copy) - median(plain));
    return 0;
}
