// Renaming a file without ever replacing one that already has the new name.
#include "renamenoreplace.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QString>

bool renameWayUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EPERM || error == ENOTSUP || error == EOPNOTSUPP;
}

bool renameNoReplace(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);

    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (!renameWayUnsupported(errno))
        return false;

    // Some file systems (older NFS, FUSE) lack the flag: a hard link refuses
    // an existing name just as atomically, then the old name goes.
    if (::link(source.constData(), target.constData()) == 0) {
        if (::unlink(source.constData()) == 0)
            return true;
        ::unlink(target.constData());
        return false;
    }
    if (!renameWayUnsupported(errno))
        return false;

    // No hard links either (FAT and friends): check, then rename. There is a
    // window between the two, but nothing else writes into the client
    // directory while an update runs.
    struct stat info;
    if (::lstat(target.constData(), &info) == 0 || errno != ENOENT)
        return false;
    return ::rename(source.constData(), target.constData()) == 0;
}
