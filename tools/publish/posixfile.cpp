// Plain descriptors instead of QFile: a failing buffered QFile write tends to
// report "Unknown error", and the reason is what a publisher needs to act.
#include "posixfile.h"

#include "publishexit.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

PosixFile::PosixFile(int fd, QString path)
    : fd(fd)
    , path(std::move(path))
{
}

PosixFile::PosixFile(PosixFile&& other) noexcept
    : fd(std::exchange(other.fd, -1))
    , path(std::move(other.path))
{
}

PosixFile::~PosixFile()
{
    if (fd >= 0)
        ::close(fd);
}

PosixFile PosixFile::openForReading(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw ToolError(
            PublishInput, QStringLiteral("Cannot open %1 for reading: %2").arg(path, systemReason()));
    return PosixFile(fd, path);
}

PosixFile PosixFile::createForWriting(const QString& path, mode_t mode)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw ToolError(
            PublishOutput, QStringLiteral("Cannot open %1 for writing: %2").arg(path, systemReason()));
    PosixFile file(fd, path);
    if (::fchmod(fd, mode) != 0)
        throw ToolError(
            PublishOutput, QStringLiteral("Cannot set the mode of %1: %2").arg(path, systemReason()));
    return file;
}

qint64 PosixFile::read(char* data, qint64 size)
{
    for (;;) {
        const ssize_t got = ::read(fd, data, size_t(size));
        if (got >= 0)
            return got;
        if (errno != EINTR)
            throw ToolError(PublishInput, QStringLiteral("Cannot read %1: %2").arg(path, systemReason()));
    }
}

void PosixFile::write(const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            throw ToolError(PublishOutput, QStringLiteral("Cannot write %1: %2").arg(path, systemReason()));
        }
        data += written;
        size -= written;
    }
}

mode_t PosixFile::mode() const
{
    struct stat info { };
    if (::fstat(fd, &info) != 0)
        throw ToolError(PublishInput, QStringLiteral("Cannot read %1: %2").arg(path, systemReason()));
    return info.st_mode & 0777;
}

void PosixFile::close()
{
    const int closing = std::exchange(fd, -1);
    if (::close(closing) != 0)
        throw ToolError(PublishOutput, QStringLiteral("Cannot write %1: %2").arg(path, systemReason()));
}

void makeFolders(const QString& path)
{
    const QByteArray full = QFile::encodeName(path);
    // Each prefix that ends before a '/' (and the whole path) in turn; an
    // existing one is fine as long as it is a folder.
    for (qsizetype end = full.indexOf('/', 1);; end = full.indexOf('/', end + 1)) {
        const QByteArray prefix = end < 0 ? full : full.left(end);
        if (::mkdir(prefix.constData(), 0755) != 0 && errno != EEXIST)
            throw ToolError(PublishOutput,
                QStringLiteral("Cannot create the folder %1: %2")
                    .arg(QFile::decodeName(prefix), systemReason()));
        if (end < 0)
            return;
    }
}
