// The lock that keeps two updaters from changing one installation at once.
#include "installationlock.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QObject>
#include <QString>

#include "base/filedescriptor.h"
#include "release/specialfiles.h"

namespace {

// Everyone who may update the installation must be able to open the file
// to lock it, whatever the umask of the first one who made it.
constexpr mode_t lockFileMode = 0644;

QByteArray lockPath(const QString& clientDir)
{
    return QFile::encodeName(clientDir + QLatin1Char('/') + InstallationLock::fileName());
}

// The descriptor, or -1 with errno set as the first open failed: that one
// says why (a directory we cannot write, a link), where the read-only retry
// would only add that the file does not exist.
int openLockFile(const QByteArray& path)
{
    int fd = openRetrying(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, lockFileMode);
    if (fd >= 0) {
        struct stat info;
        if (::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 0777) != lockFileMode)
            ::fchmod(fd, lockFileMode);
        return fd;
    }
    const int cause = errno;
    // A shared installation's lock file belongs to whoever made it; a lock
    // needs no more than reading.
    fd = openRetrying(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        errno = cause;
    return fd;
}

} // namespace

InstallationLock::~InstallationLock()
{
    if (fd >= 0)
        ::close(fd);
}

InstallationLock::Outcome InstallationLock::acquire(const QString& clientDir)
{
    if (fd >= 0)
        return Acquired;
    failure = 0;
    path = lockPath(clientDir);
    const int opened = openLockFile(path);
    if (opened < 0) {
        failure = errno;
        return Unavailable;
    }
    // Non-blocking: it never waits, so no signal can interrupt it.
    if (::flock(opened, LOCK_EX | LOCK_NB) != 0) {
        const int cause = errno;
        ::close(opened);
        if (cause == EWOULDBLOCK)
            return HeldElsewhere;
        failure = cause;
        return Unavailable;
    }
    fd = opened;
    return Acquired;
}

QString InstallationLock::unavailableMessage() const
{
    return QObject::tr("Cannot lock the installation: %1")
        .arg(QStringLiteral("%1: %2").arg(
            QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(failure))));
}

bool InstallationLock::heldElsewhere(const QString& clientDir)
{
    const FileDescriptor file(
        openRetrying(lockPath(clientDir).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    // Without the file nobody has ever locked this installation.
    if (file.fd() < 0)
        return false;
    // A shared lock is refused only while someone holds the exclusive one;
    // closing the file drops it again at once.
    return ::flock(file.fd(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

QString InstallationLock::busyMessage(const QString& clientDir)
{
    return QObject::tr("The installation in %1 is being updated by another updater. Nothing was "
                       "changed; try again when it has finished.")
        .arg(clientDir);
}

QString InstallationLock::fileName()
{
    return SpecialFiles::lockFile();
}
