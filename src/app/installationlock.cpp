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

namespace {

// Everyone who may update the installation must be able to open the file
// to lock it, whatever the umask of the first one who made it.
constexpr mode_t lockFileMode = 0644;

int openLockFile(const QByteArray& path)
{
    int fd;
    do {
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, lockFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        struct stat info;
        if (::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 0777) != lockFileMode)
            ::fchmod(fd, lockFileMode);
        return fd;
    }
    // A shared installation's lock file belongs to whoever made it; a lock
    // needs no more than reading.
    do {
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
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
    const int opened = openLockFile(QFile::encodeName(clientDir + QLatin1Char('/') + fileName()));
    if (opened < 0)
        return Unavailable;
    int rc;
    do {
        rc = ::flock(opened, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(opened);
        return held ? HeldElsewhere : Unavailable;
    }
    fd = opened;
    return Acquired;
}

bool InstallationLock::heldElsewhere(const QString& clientDir)
{
    const QByteArray path = QFile::encodeName(clientDir + QLatin1Char('/') + fileName());
    int fd;
    do {
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    // Without the file nobody has ever locked this installation.
    if (fd < 0)
        return false;
    // A shared lock is refused only while someone holds the exclusive one;
    // closing the file drops it again at once.
    int rc;
    do {
        rc = ::flock(fd, LOCK_SH | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    const bool held = rc != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

QString InstallationLock::busyMessage(const QString& clientDir)
{
    return QObject::tr("The installation in %1 is being updated by another updater. Nothing was "
                       "changed; try again when it has finished.")
        .arg(clientDir);
}

QString InstallationLock::fileName()
{
    return QStringLiteral("update.lock");
}
