// Streams files through MD5 (and zlib) in blocks, so release files of any size
// are published without being held in memory.
#include "filepacker.h"

#include "posixfile.h"
#include "publishexit.h"

#include <QCryptographicHash>
#include <QFile>

#include <memory>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr qint64 blockSize = 256 * 1024;

void count(ByteCounter* progress, qint64 bytes)
{
    if (progress)
        progress->fetch_add(quint64(bytes), std::memory_order_relaxed);
}

} // namespace

void FilePacker::StreamEnd::operator()(z_stream_s* stream) const
{
    deflateEnd(stream);
    delete stream;
}

FilePacker::FilePacker()
    : block(new char[blockSize])
    , packed(new char[blockSize])
{
}

FilePacker::~FilePacker() = default;

FileDigest FilePacker::copy(const QString& source, const QString& target, ByteCounter* progress)
{
    PosixFile in = PosixFile::openForReading(source);
    PosixFile out = PosixFile::createForWriting(target, in.mode());
    QCryptographicHash md5(QCryptographicHash::Md5);
    FileDigest digest;
    while (const qint64 got = in.read(block.get(), blockSize)) {
        md5.addData(QByteArrayView(block.get(), got));
        digest.size += quint64(got);
        out.write(block.get(), got);
        count(progress, got);
    }
    out.close();
    digest.md5 = md5.result().toHex();
    return digest;
}

z_stream_s& FilePacker::deflater(int level, const QString& source)
{
    // A reset stream packs exactly like a new one; the last file may also
    // have left it half-way, after a failure.
    if (stream && streamLevel == level && deflateReset(stream.get()) == Z_OK)
        return *stream;
    stream.reset();
    auto fresh = std::make_unique<z_stream>();
    // 15 + 16 window bits ask for the gzip wrapper. Without a header of our
    // own zlib writes no name and a zero time, which keeps the output stable.
    if (deflateInit2(fresh.get(), level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw ToolError(PublishCrypto, QStringLiteral("zlib cannot start packing %1").arg(source));
    stream.reset(fresh.release());
    streamLevel = level;
    return *stream;
}

PackResult FilePacker::gzip(const QString& source, const QString& target, int level, ByteCounter* progress)
{
    PosixFile in = PosixFile::openForReading(source);
    PosixFile out = PosixFile::createForWriting(target, in.mode());
    z_stream& zip = deflater(level, source);
    QCryptographicHash plainMd5(QCryptographicHash::Md5);
    QCryptographicHash packedMd5(QCryptographicHash::Md5);
    PackResult result;
    int rc = Z_OK;
    bool atEnd = false;
    while (rc != Z_STREAM_END) {
        qint64 got = 0;
        if (!atEnd) {
            got = in.read(block.get(), blockSize);
            atEnd = got == 0;
            plainMd5.addData(QByteArrayView(block.get(), got));
            result.unpacked.size += quint64(got);
            count(progress, got);
        }
        zip.next_in = reinterpret_cast<Bytef*>(block.get());
        zip.avail_in = uInt(got);
        do {
            zip.next_out = reinterpret_cast<Bytef*>(packed.get());
            zip.avail_out = uInt(blockSize);
            rc = deflate(&zip, atEnd ? Z_FINISH : Z_NO_FLUSH);
            if (rc == Z_STREAM_ERROR)
                throw ToolError(PublishCrypto, QStringLiteral("zlib failed packing %1").arg(source));
            const qint64 produced = blockSize - qint64(zip.avail_out);
            packedMd5.addData(QByteArrayView(packed.get(), produced));
            result.packed.size += quint64(produced);
            out.write(packed.get(), produced);
        } while (zip.avail_out == 0);
    }
    out.close();
    result.unpacked.md5 = plainMd5.result().toHex();
    result.packed.md5 = packedMd5.result().toHex();
    return result;
}

FileDigest FilePacker::digest(const QString& path)
{
    PosixFile in = PosixFile::openForReading(path);
    QCryptographicHash md5(QCryptographicHash::Md5);
    FileDigest digest;
    while (const qint64 got = in.read(block.get(), blockSize)) {
        md5.addData(QByteArrayView(block.get(), got));
        digest.size += quint64(got);
    }
    digest.md5 = md5.result().toHex();
    return digest;
}

FileDigest FilePacker::gunzip(const QString& source, const QString& target)
{
    const int fd = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    gzFile packedFile = fd < 0 ? nullptr : gzdopen(fd, "rb");
    if (!packedFile) {
        const QString reason = systemReason();
        if (fd >= 0)
            ::close(fd);
        throw ToolError(PublishInput, QStringLiteral("Cannot open %1 for reading: %2").arg(source, reason));
    }
    const std::unique_ptr<gzFile_s, int (*)(gzFile)> closer(packedFile, gzclose);
    PosixFile out = PosixFile::createForWriting(target, 0600);
    QCryptographicHash md5(QCryptographicHash::Md5);
    FileDigest digest;
    int got = 0;
    while ((got = gzread(packedFile, block.get(), unsigned(blockSize))) > 0) {
        md5.addData(QByteArrayView(block.get(), got));
        digest.size += quint64(got);
        out.write(block.get(), got);
    }
    // A file cut short ends the reading like a whole one; only the error
    // state tells them apart.
    int code = Z_OK;
    const char* reason = gzerror(packedFile, &code);
    if (got < 0 || code != Z_OK)
        throw ToolError(
            PublishInput, QStringLiteral("Cannot unpack %1: %2").arg(source, QString::fromLatin1(reason)));
    out.close();
    digest.md5 = md5.result().toHex();
    return digest;
}

FileDigest copyFile(const QString& source, const QString& target, ByteCounter* progress)
{
    return FilePacker().copy(source, target, progress);
}
