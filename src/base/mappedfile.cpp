// Mapping whole files for reading and for writing.
#include "mappedfile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "base/filedescriptor.h"

MappedFile::~MappedFile()
{
    close();
}

bool MappedFile::fail(const QString& what, int errorCode)
{
    lastError =
        QStringLiteral("Cannot %1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errorCode)));
    return false;
}

bool MappedFile::openForReading(const QString& filePath)
{
    close();
    path = filePath;
    const FileDescriptor file(openRetrying(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (file.fd() < 0)
        return fail(QStringLiteral("open"), errno);
    struct stat info;
    if (::fstat(file.fd(), &info) != 0)
        return fail(QStringLiteral("read the size of"), errno);
    if (!S_ISREG(info.st_mode))
        return fail(QStringLiteral("map"), EINVAL);
    length = quint64(info.st_size);
    if (length == 0)
        return true;
    void* address = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, file.fd(), 0);
    if (address == MAP_FAILED) {
        length = 0;
        return fail(QStringLiteral("map"), errno);
    }
    // Read-ahead runs far ahead and pages already read may go first when
    // memory is short: the file is read from its start to its end.
    ::madvise(address, length, MADV_SEQUENTIAL);
    mapped = static_cast<char*>(address);
    return true;
}

bool MappedFile::createForWriting(const QString& filePath, quint64 size)
{
    close();
    path = filePath;
    const QByteArray native = QFile::encodeName(path);
    const FileDescriptor file(openRetrying(native.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (file.fd() < 0)
        return fail(QStringLiteral("create"), errno);
    if (size == 0)
        return true;
    // A page of a mapping that the file system cannot back kills the
    // process when it is written; blocks reserved now cannot run out later.
    const int reserved = ::posix_fallocate(file.fd(), 0, off_t(size));
    if (reserved != 0) {
        ::unlink(native.constData());
        return fail(QStringLiteral("reserve %1 bytes for").arg(size), reserved);
    }
    void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file.fd(), 0);
    if (address == MAP_FAILED) {
        const int cause = errno;
        ::unlink(native.constData());
        return fail(QStringLiteral("map"), cause);
    }
    mapped = static_cast<char*>(address);
    length = size;
    writable = true;
    return true;
}

void MappedFile::close()
{
    if (mapped)
        ::munmap(mapped, length);
    mapped = nullptr;
    length = 0;
    writable = false;
}
