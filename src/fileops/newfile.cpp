// An output file that only stays on disk once its content is on stable storage.
#include "newfile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

NewFile::NewFile(const QString& path, int mode)
    : nativePath(QFile::encodeName(path))
{
    do {
        fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
}

NewFile::~NewFile()
{
    if (!committed)
        discard();
}

bool NewFile::write(const char* data, qint64 size)
{
    if (fd < 0)
        return false;
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

bool NewFile::setMode(int mode)
{
    return fd >= 0 && ::fchmod(fd, mode_t(mode)) == 0;
}

bool NewFile::commit()
{
    if (fd < 0)
        return false;
    // The old copy of a replaced file is deleted at the end of the update; if
    // the new content were still only in the page cache then, a power cut
    // would leave an empty or torn file and nothing to fall back on.
    if (::fsync(fd) != 0)
        return false;
    return keepUnflushed();
}

bool NewFile::keepUnflushed()
{
    if (fd < 0)
        return false;
    // close() can report a deferred write error (NFS); then the data is not safe.
    const int rc = ::close(fd);
    fd = -1;
    if (rc != 0 && errno != EINTR) {
        ::unlink(nativePath.constData());
        return false;
    }
    committed = true;
    return true;
}

void NewFile::discard()
{
    if (fd < 0)
        return;
    ::close(fd);
    fd = -1;
    ::unlink(nativePath.constData());
}
