// Puts many staged files in place after one flush for all of them.
#include "batchinstalltaskspecification.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSet>

#include "base/filedescriptor.h"
#include "fileops/atomicreplace.h"
#include "fileops/rollback.h"

namespace {

QString directoryOf(const QString& path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')));
}

} // namespace

BatchInstallTaskSpecification::BatchInstallTaskSpecification(
    QList<InstallStep> steps, RollbackDataList& journal, QObject* parent, double parentProgressRange)
    : ASyncTaskSpecification(parent, parentProgressRange)
    , steps(std::move(steps))
    , journal(journal)
{
}

ASyncFunc* BatchInstallTaskSpecification::createFunction()
{
    placed = 0;
    auto* func = new BatchInstallFunc(steps);
    // Queued like the result, and sent before it, so the journal is complete
    // by the time the task ends.
    connect(func, &BatchInstallFunc::placed, this, &BatchInstallTaskSpecification::onPlaced,
        Qt::QueuedConnection);
    return func;
}

void BatchInstallTaskSpecification::onPlaced(int count)
{
    placed = count;
    for (int i = 0; i < count; ++i) {
        journal.add(RollbackData::placed(steps.at(i).target, steps.at(i).old));
    }
}

BatchInstallFunc::BatchInstallFunc(QList<InstallStep> steps)
    : steps(std::move(steps))
{
}

bool BatchInstallFunc::run()
{
    if (!flushStaged()) {
        // A write error of the file system (a full disk that showed only
        // now, an I/O error) is what the user has to act on.
        emit message(QStringLiteral("Could not write the new files to disk: %1").arg(qt_error_string(errno)));
        discardFrom(0);
        emit placed(0);
        return false;
    }
    int done = 0;
    for (; done < steps.size(); ++done) {
        const InstallStep& step = steps.at(done);
        const QString staging = AtomicReplace::stagingPath(step.target);
        if (!AtomicReplace::place(staging, step.target, step.old, AtomicReplace::DirectoryFlush::ByCaller)) {
            emit message(QStringLiteral("Could not move '%1' to '%2': %3")
                             .arg(staging, step.target, qt_error_string(errno)));
            break;
        }
    }
    discardFrom(done);
    flushDirectories(done);
    emit placed(done);
    return done == steps.size();
}

bool BatchInstallFunc::flushStaged() const
{
    // One syncfs writes back all staged files of a file system with a single
    // journal commit; an fsync per file costs a commit per file, which on
    // thousands of small files is most of the installation's time.
    QSet<QString> directories;
    QSet<dev_t> flushed;
    for (const InstallStep& step : steps) {
        const QString directory = directoryOf(step.target);
        if (directories.contains(directory))
            continue;
        directories.insert(directory);
        const FileDescriptor dir(
            ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat info;
        if (dir.fd() < 0 || ::fstat(dir.fd(), &info) != 0)
            return false;
        if (flushed.contains(info.st_dev))
            continue;
        if (::syncfs(dir.fd()) != 0)
            return false;
        flushed.insert(info.st_dev);
    }
    return true;
}

void BatchInstallFunc::discardFrom(int first) const
{
    for (int i = first; i < steps.size(); ++i)
        AtomicReplace::discardStaged(steps.at(i).target);
}

void BatchInstallFunc::flushDirectories(int count) const
{
    // The renames and links of a directory survive a power cut once it is
    // flushed; before that the previous content is still under each name.
    QSet<QString> directories;
    for (int i = 0; i < count; ++i) {
        const QString& target = steps.at(i).target;
        const QString directory = directoryOf(target);
        if (directories.contains(directory))
            continue;
        directories.insert(directory);
        AtomicReplace::syncDirectoryOf(target);
    }
}
