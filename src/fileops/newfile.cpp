// An output file that only stays on disk once its content is on stable storage.
#include "newfile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "base/filedescriptor.h"

NewFile::NewFile(const QString& path, int mode, int sameContent)
    : nativePath(QFile::encodeName(path))
{
    if (sameContent >= 0 && linkTo(sameContent))
        return;
    fd = openRetrying(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode_t(mode));
}

bool NewFile::linkTo(int sameContent)
{
    // Copying a downloaded file into the client directory would write every
    // byte a second time and double what the final flush has to write; a
    // second name of the download costs neither. Only a regular file of our
    // own qualifies: one of another user's would stay theirs to change.
    struct stat source;
    if (::fstat(sameContent, &source) != 0 || !S_ISREG(source.st_mode) || source.st_uid != ::geteuid())
        return false;
    // Linked through the open descriptor, so the name gets exactly the file
    // whose bytes the caller reads, whatever has happened to its path since.
    // Another file system, one without hard links or a missing /proc leave
    // the copy to be written.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(sameContent);
    if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, nativePath.constData(), AT_SYMLINK_FOLLOW) != 0)
        return false;
    fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat made;
    if (fd < 0 || ::fstat(fd, &made) != 0 || made.st_dev != source.st_dev || made.st_ino != source.st_ino) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        ::unlink(nativePath.constData());
        return false;
    }
    linked = true;
    return true;
}

NewFile::~NewFile()
{
    if (!committed)
        discard();
}

bool NewFile::write(const char* data, qint64 size)
{
    if (fd < 0 || linked)
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
    // would leave an empty or torn file and nothing to fall back on. A second
    // name flushes the same way: the download itself was never flushed.
    if (::fsync(fd) != 0)
        return false;
    return closeKept();
}

bool NewFile::keepUnflushed()
{
    if (fd < 0)
        return false;
    // The flush comes later, for many files at once; the disk starts on this
    // one now instead of idling until then. Only a hint: errors show later.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    return closeKept();
}

bool NewFile::closeKept()
{
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
