// Putting a finished file in place of another in one atomic step.
#include "atomicreplace.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QString>

#include "fileops/renamenoreplace.h"
#include "release/releasenames.h"

namespace {

// The file system (or its policy, such as protected hard links for files of
// another owner, or a file at its link limit) does not offer the operation.
bool unsupported(int error)
{
    return renameWayUnsupported(error) || error == EMLINK;
}

// Keeps errno across clean-up calls, so the caller's failure report names the first cause.
class SavedErrno final {
public:
    SavedErrno()
        : saved(errno)
    {
    }
    ~SavedErrno() { errno = saved; }
    SavedErrno(const SavedErrno&) = delete;
    SavedErrno& operator=(const SavedErrno&) = delete;

private:
    int saved;
};

bool exchangeThenSetAside(
    const QByteArray& fresh, const QByteArray& target, const QString& freshName, const QString& oldName)
{
    if (::renameat2(AT_FDCWD, fresh.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) != 0)
        return false;
    // The previous content now has the staging name; a kill here leaves the
    // new content in place and the previous one where a later run deletes it.
    if (renameNoReplace(freshName, oldName))
        return true;
    const SavedErrno keep;
    ::renameat2(AT_FDCWD, fresh.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE);
    return false;
}

} // namespace

namespace AtomicReplace {

namespace {

void flushDirectoryOf(const QString& path, DirectoryFlush flush)
{
    if (flush == DirectoryFlush::Now)
        syncDirectoryOf(path);
}

} // namespace

QString stagingPath(const QString& target)
{
    return ReleaseNames::withPrefix(target, ReleaseNames::stagingPrefix());
}

void discardStaged(const QString& target)
{
    ::unlink(QFile::encodeName(stagingPath(target)).constData());
}

bool replaceKeepingOld(const QString& fresh, const QString& target, const QString& old, DirectoryFlush flush)
{
    const QByteArray freshPath = QFile::encodeName(fresh);
    const QByteArray targetPath = QFile::encodeName(target);
    const QByteArray oldPath = QFile::encodeName(old);
    if (::link(targetPath.constData(), oldPath.constData()) == 0) {
        if (::rename(freshPath.constData(), targetPath.constData()) == 0) {
            flushDirectoryOf(target, flush);
            return true;
        }
        const SavedErrno keep;
        ::unlink(oldPath.constData());
        return false;
    }
    if (!unsupported(errno))
        return false;

    if (exchangeThenSetAside(freshPath, targetPath, fresh, old)) {
        flushDirectoryOf(target, flush);
        return true;
    }
    if (!unsupported(errno))
        return false;

    // Neither hard links nor exchange (FAT and friends): the name is empty
    // for the instant between the two renames.
    if (!renameNoReplace(target, old))
        return false;
    if (::rename(freshPath.constData(), targetPath.constData()) != 0) {
        const SavedErrno keep;
        ::rename(oldPath.constData(), targetPath.constData());
        return false;
    }
    flushDirectoryOf(target, flush);
    return true;
}

bool putInPlace(const QString& fresh, const QString& target, DirectoryFlush flush)
{
    if (!renameNoReplace(fresh, target))
        return false;
    flushDirectoryOf(target, flush);
    return true;
}

bool place(const QString& fresh, const QString& target, const QString& old, DirectoryFlush flush)
{
    return old.isEmpty() ? putInPlace(fresh, target, flush) : replaceKeepingOld(fresh, target, old, flush);
}

bool restoreOld(const QString& old, const QString& target)
{
    const QByteArray oldPath = QFile::encodeName(old);
    const QByteArray targetPath = QFile::encodeName(target);
    // rename() replaces target in one step; target is never missing.
    if (::rename(oldPath.constData(), targetPath.constData()) != 0) {
        // A directory that was set aside cannot be renamed over the file
        // that took its place, but the two can trade names.
        if ((errno != EISDIR && errno != ENOTDIR)
            || ::renameat2(AT_FDCWD, oldPath.constData(), AT_FDCWD, targetPath.constData(), RENAME_EXCHANGE)
                != 0
            || ::unlink(oldPath.constData()) != 0)
            return false;
    }
    syncDirectoryOf(target);
    return true;
}

void syncDirectoryOf(const QString& path)
{
    const SavedErrno keep;
    const int fd =
        ::open(QFile::encodeName(QFileInfo(path).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace AtomicReplace
