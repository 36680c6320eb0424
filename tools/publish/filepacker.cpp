// Streams files through MD5 (and zlib) in blocks, so release files of any size
// are published without being held in memory.
#include "filepacker.h"

#include "posixfile.h"
#include "publishexit.h"

#include <QCryptographicHash>

#include <memory>

#include <zlib.h>

namespace {

constexpr qint64 blockSize = 256 * 1024;

// Ends a zlib stream on every path out of the packing loop.
class DeflateGuard final {
public:
    explicit DeflateGuard(z_stream& stream)
        : stream(stream)
    {
    }
    ~DeflateGuard() { deflateEnd(&stream); }
    DeflateGuard(const DeflateGuard&) = delete;
    DeflateGuard& operator=(const DeflateGuard&) = delete;

private:
    z_stream& stream;
};

void count(ByteCounter* progress, qint64 bytes)
{
    if (progress)
        progress->fetch_add(quint64(bytes), std::memory_order_relaxed);
}

} // namespace

FileDigest copyFile(const QString& source, const QString& target, ByteCounter* progress)
{
    PosixFile in = PosixFile::openForReading(source);
    PosixFile out = PosixFile::createForWriting(target, in.mode());
    QCryptographicHash md5(QCryptographicHash::Md5);
    FileDigest digest;
    const std::unique_ptr<char[]> block(new char[blockSize]);
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

PackResult gzipFile(const QString& source, const QString& target, int level, ByteCounter* progress)
{
    PosixFile in = PosixFile::openForReading(source);
    PosixFile out = PosixFile::createForWriting(target, in.mode());

    z_stream stream {};
    // 15 + 16 window bits ask for the gzip wrapper. Without a header of our
    // own zlib writes no name and a zero time, which keeps the output stable.
    if (deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw ToolError(PublishCrypto, QStringLiteral("zlib cannot start packing %1").arg(source));
    const DeflateGuard guard(stream);
    QCryptographicHash plainMd5(QCryptographicHash::Md5);
    QCryptographicHash packedMd5(QCryptographicHash::Md5);
    PackResult result;
    const std::unique_ptr<char[]> block(new char[blockSize]);
    const std::unique_ptr<char[]> packed(new char[blockSize]);
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
        stream.next_in = reinterpret_cast<Bytef*>(block.get());
        stream.avail_in = uInt(got);
        do {
            stream.next_out = reinterpret_cast<Bytef*>(packed.get());
            stream.avail_out = uInt(blockSize);
            rc = deflate(&stream, atEnd ? Z_FINISH : Z_NO_FLUSH);
            if (rc == Z_STREAM_ERROR)
                throw ToolError(PublishCrypto, QStringLiteral("zlib failed packing %1").arg(source));
            const qint64 produced = blockSize - qint64(stream.avail_out);
            packedMd5.addData(QByteArrayView(packed.get(), produced));
            result.packed.size += quint64(produced);
            out.write(packed.get(), produced);
        } while (stream.avail_out == 0);
    }
    out.close();
    result.unpacked.md5 = plainMd5.result().toHex();
    result.packed.md5 = packedMd5.result().toHex();
    return result;
}
