// Small tmpfs mounts for tests.
#include "scratchmount.h"

#include <cerrno>
#include <cstring>

#include <sys/mount.h>
#include <unistd.h>

#include <QFile>

ScratchMount::ScratchMount(qint64 sizeBytes, Mode mode, const std::function<void(const QString& path)>& fill)
{
    if (::geteuid() != 0) {
        reason = QStringLiteral("mounting a small file system needs root");
        return;
    }
    if (!mountPoint.isValid()) {
        reason = QStringLiteral("no directory to mount on");
        return;
    }
    const QByteArray target = QFile::encodeName(mountPoint.path());
    const QByteArray options = "size=" + QByteArray::number(sizeBytes) + ",mode=0755";
    if (::mount("tmpfs", target.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) != 0) {
        reason =
            QStringLiteral("cannot mount a tmpfs here: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    mounted = true;
    if (fill)
        fill(path());
    if (mode == ReadOnly
        && ::mount("tmpfs", target.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
               options.constData())
            != 0) {
        reason = QStringLiteral("cannot make the tmpfs read-only: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::umount2(target.constData(), MNT_DETACH);
        mounted = false;
    }
}

ScratchMount::~ScratchMount()
{
    if (mounted)
        ::umount2(QFile::encodeName(mountPoint.path()).constData(), MNT_DETACH);
}

bool ScratchMount::permissionsApply()
{
    return ::geteuid() != 0;
}
