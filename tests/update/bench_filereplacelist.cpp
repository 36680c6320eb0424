// What the installation phase and the delete stage cost on a release of many
// small files: wall time, time per file and peak memory, for a phase that
// completes and for one whose last file fails and is rolled back.
// Prints figures; never fails.
//   bench_filereplacelist [directory on the disk to measure] [files]
#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include "processmemory.h"
#include "testfiles.h"
#include "update/filedeletelisttaskspecification.h"
#include "update/filereplacelisttaskspecification.h"
#include "update/updateparameters.h"

namespace {

// Runs the task to its end; milliseconds, or -1 if it did not end.
double runToEnd(TaskSpecification& task)
{
    QEventLoop loop;
    QObject::connect(&task, &TaskSpecification::finished, &loop, &QEventLoop::quit);
    QObject::connect(&task, &TaskSpecification::canceled, &loop, &QEventLoop::quit);
    QObject::connect(&task, &TaskSpecification::message, &task, [](const QString& line) {
        if (!line.startsWith(QLatin1String("add/replace")))
            std::printf("  | %s\n", qPrintable(line));
    });
    QTimer::singleShot(1800000, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    task.execute();
    if (task.state() == TaskSpecification::Running)
        loop.exec();
    return task.state() == TaskSpecification::Running ? -1 : double(timer.nsecsElapsed()) / 1e6;
}

struct Release {
    QString client;
    QString temp;
    QList<FileReplaceSpecification> replaceList;
};

// count files in 100 directories, 256 bytes each, every tenth packed; half of
// them are installed already in an older version.
Release makeRelease(const QString& root, int count, bool lastIsBad)
{
    Release release {root + QStringLiteral("/client"), root + QStringLiteral("/temp"), {}};
    QDir().mkpath(release.client);
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("d%1/f%2.dat").arg(i % 100).arg(i);
        const QByteArray content = QByteArray(256, char('a' + i % 26)) + QByteArray::number(i);
        FileReplaceSpecification entry;
        if (i % 10 == 0) {
            entry.fileName = path + QStringLiteral(".gz");
            entry.unzipName = path;
            entry.md5 =
                QString::fromLatin1(TestFiles::md5Hex(lastIsBad && i == count - 10 ? "bad" : content));
            TestFiles::write(release.temp + QLatin1Char('/') + entry.fileName, TestFiles::gzip(content));
        } else {
            entry.fileName = path;
            TestFiles::write(release.temp + QLatin1Char('/') + path, content);
        }
        if (i % 2 == 0)
            TestFiles::write(release.client + QLatin1Char('/') + path, "old");
        release.replaceList.append(entry);
    }
    return release;
}

void measure(const QString& base, int count, bool lastIsBad)
{
    QTemporaryDir dir(base + QStringLiteral("/bench_replace_XXXXXX"));
    Release release = makeRelease(dir.path(), count, lastIsBad);
    UpdateParameters parameters;
    parameters.tempDir = release.temp;
    parameters.clientDir = release.client;
    QList<QString> deleteList;

    FileReplaceListTaskSpecification phase(release.replaceList, deleteList, parameters, nullptr, 1.0);
    const double replaceMs = runToEnd(phase);
    std::printf("%-28s %6d files: %9.0f ms, %6.3f ms per file, state %d, %lld _old_ names\n",
        lastIsBad ? "install, last packed bad:" : "install:", count, replaceMs, replaceMs / count,
        int(phase.state()), static_cast<long long>(deleteList.size()));
    if (!lastIsBad) {
        FileDeleteListTaskSpecification cleanup(deleteList, parameters, nullptr, 1.0);
        const double deleteMs = runToEnd(cleanup);
        std::printf("%-28s %6lld files: %9.0f ms\n",
            "delete _old_ copies:", static_cast<long long>(deleteList.size()), deleteMs);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString base = args.value(1, QDir::tempPath());
    const int count = args.value(2, QStringLiteral("20000")).toInt();
    std::printf("directory %s\n", qPrintable(base));
    measure(base, count, false);
    measure(base, count, true);
    std::printf("peak memory (VmHWM): %lld KiB\n", static_cast<long long>(ProcessMemory::statusKiB("VmHWM")));
    return 0;
}
