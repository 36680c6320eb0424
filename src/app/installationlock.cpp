// The lock that keeps two updaters from changing one installation at once.
#include "installationlock.h"

#include <cerrno>

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

int openLockFile(const QByteArray& path)
{
    int fd = openRetrying(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, lockFileMode);
    if (fd >= 0) {
        struct stat info;
        if (::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 0777) != lockFileMode)
            ::fchmod(fd, lockFileMode);
        return fd;
    }
    // A shared installation's lock file belongs to whoever made it; a lock
    // needs no more than reading.
    return openRetrying(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
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
    const int opened = openLockFile(lockPath(clientDir));
    if (opened < 0)
        return Unavailable;
    // Non-blocking: it never waits, so no signal can interrupt it.
    if (::flock(opened, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(opened);
        return held ? HeldElsewhere : Unavailable;
    }
    fd = opened;
    return Acquired;
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
