// The shell pipeline of the update benchmark.
#include "benchshell.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include "testfiles.h"

namespace BenchShell {

namespace {

// Runs one command to its end; false with the reason in failure.
bool runCommand(const QString& program, const QStringList& arguments, const QString& dir, QString& failure)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        failure = program + QStringLiteral(" failed: ")
            + QString::fromLocal8Bit(process.readAll().left(400)).trimmed();
        return false;
    }
    return true;
}

QByteArray checksumList(const QList<File>& files)
{
    QByteArray list;
    for (const File& file : files)
        list += file.md5.toLatin1() + "  " + file.path.toUtf8() + '\n';
    return list;
}

// Times the steps one after the other, stopping at the first failure.
class Steps {
public:
    explicit Steps(Timing& timing)
        : timing(timing)
    {
    }

    bool run(const QString& name, const QString& program, const QStringList& arguments, const QString& dir)
    {
        QElapsedTimer clock;
        clock.start();
        if (!runCommand(program, arguments, dir, timing.failure))
            return false;
        const double seconds = clock.nsecsElapsed() / 1e9;
        timing.seconds += seconds;
        timing.stepSeconds.append(seconds);
        if (!timing.steps.isEmpty())
            timing.steps += QStringLiteral(", ");
        timing.steps += QStringLiteral("%1 %2 s").arg(name).arg(seconds, 0, 'f', 2);
        return true;
    }

private:
    Timing& timing;
};

} // namespace

namespace {

// Writes curl's list of the files and the checksum list; false if not.
bool prepare(const QList<File>& files, const QString& workDir, Timing& timing)
{
    const QString download = workDir + QStringLiteral("/download");
    QByteArray config;
    for (const File& file : files) {
        config += "url = \"" + file.url.toUtf8() + "\"\noutput = \"" + download.toUtf8() + '/'
            + file.path.toUtf8() + "\"\n";
    }
    if (!TestFiles::write(workDir + QStringLiteral("/curl.config"), config)
        || !TestFiles::write(workDir + QStringLiteral("/md5.list"), checksumList(files))
        || !QDir().mkpath(download)) {
        timing.failure = QStringLiteral("could not prepare ") + workDir;
        return false;
    }
    return true;
}

bool runCurl(Steps& steps, const QString& workDir, const QStringList& extraArguments)
{
    const QStringList arguments = extraArguments
        + QStringList {QStringLiteral("--parallel"), QStringLiteral("--parallel-max"), QStringLiteral("6"),
            QStringLiteral("--fail"), QStringLiteral("--silent"), QStringLiteral("--show-error"),
            QStringLiteral("--create-dirs"), QStringLiteral("--config"),
            workDir + QStringLiteral("/curl.config")};
    return steps.run(QStringLiteral("curl"), QStringLiteral("curl"), arguments, workDir);
}

bool applyPatch(Steps& steps, const Patch& patch, const QString& workDir, Timing& timing)
{
    const QString download = workDir + QStringLiteral("/download");
    const QString list = workDir + QStringLiteral("/result.list");
    if (!TestFiles::write(list, checksumList({patch.result}))) {
        timing.failure = QStringLiteral("could not write ") + list;
        return false;
    }
    return steps.run(QStringLiteral("zstd -d --patch-from"), QStringLiteral("zstd"),
               {QStringLiteral("-q"), QStringLiteral("-d"), QStringLiteral("--rm"),
                   QStringLiteral("--long=31"), QStringLiteral("--patch-from=") + patch.installed, patch.path,
                   QStringLiteral("-o"), patch.result.path},
               download)
        && steps.run(QStringLiteral("md5sum -c"), QStringLiteral("md5sum"),
            {QStringLiteral("--quiet"), QStringLiteral("-c"), list}, download);
}

} // namespace

Timing curl(const QList<File>& files, const QString& workDir, const QStringList& extraArguments)
{
    Timing timing;
    if (!prepare(files, workDir, timing))
        return timing;
    Steps steps(timing);
    timing.ok = runCurl(steps, workDir, extraArguments);
    return timing;
}

Timing pipeline(const QList<File>& files, const QString& workDir, const QString& clientDir,
    const std::optional<Patch>& patch)
{
    Timing timing;
    const QString download = workDir + QStringLiteral("/download");
    if (!prepare(files, workDir, timing) || !QDir().mkpath(clientDir)) {
        timing.failure = QStringLiteral("could not prepare ") + workDir;
        return timing;
    }
    Steps steps(timing);
    timing.ok = runCurl(steps, workDir, {})
        && steps.run(QStringLiteral("md5sum -c"), QStringLiteral("md5sum"),
            {QStringLiteral("--quiet"), QStringLiteral("-c"), workDir + QStringLiteral("/md5.list")},
            download)
        && (!patch || applyPatch(steps, *patch, workDir, timing))
        && steps.run(QStringLiteral("cp -r"), QStringLiteral("cp"),
            {QStringLiteral("-r"), download + QStringLiteral("/."), clientDir}, workDir)
        && steps.run(QStringLiteral("sync"), QStringLiteral("sync"), {}, workDir);
    return timing;
}

Timing md5sum(const QList<File>& files, const QString& dir, const QString& workDir)
{
    Timing timing;
    const QString listPath = workDir + QStringLiteral("/md5.list");
    if (!TestFiles::write(listPath, checksumList(files))) {
        timing.failure = QStringLiteral("could not write ") + listPath;
        return timing;
    }
    Steps steps(timing);
    timing.ok = steps.run(QStringLiteral("md5sum -c"), QStringLiteral("md5sum"),
        {QStringLiteral("--quiet"), QStringLiteral("-c"), listPath}, dir);
    return timing;
}

} // namespace BenchShell
