// MD5 digests of whole files through one reusable buffer.
#include "filemd5.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>

#include "base/filedescriptor.h"

namespace {

// Large enough that the system call per block costs nothing next to the
// digest, small enough to stay in the cache of a core.
constexpr qint64 blockSize = 256 * 1024;

} // namespace

FileMd5::FileMd5()
    : block(new char[blockSize])
    , hash(QCryptographicHash::Md5)
{
}

FileMd5::~FileMd5() = default;

FileMd5::Outcome FileMd5::digest(const QString& path)
{
    lastHex.clear();
    // The no-op check opens every installed file: the plain system calls,
    // without a file object's bookkeeping around them.
    const int fd = openRetrying(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return NotOpened;
    const FileDescriptor guard(fd);
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return NotReadWhole;
    // A directory opens like a file but is none.
    if (S_ISDIR(info.st_mode))
        return NotOpened;
    const qint64 size = info.st_size;
    // Read-ahead hints pay for themselves only beyond a block or two.
    if (size > 2 * blockSize)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    hash.reset();
    qint64 total = 0;
    // Read on past the size taken at open, so a file that yields more bytes
    // is caught too; stop as soon as it has, so a file that never ends cannot
    // keep the thread busy.
    while (total <= size) {
        const ssize_t got = ::read(fd, block.get(), size_t(blockSize));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return NotReadWhole;
        if (got == 0)
            break;
        hash.addData(QByteArrayView(block.get(), got));
        total += got;
    }
    if (total != size)
        return NotReadWhole;
    lastHex = hash.result().toHex();
    return Digested;
}

bool FileMd5::matches(const QString& path, const QString& md5Hex)
{
    return digest(path) == Digested && QString::fromLatin1(lastHex).compare(md5Hex, Qt::CaseInsensitive) == 0;
}
