// Streams files through MD5 (and zlib) in blocks, so release files of any size
// are published without being held in memory.
#include "filepacker.h"

#include "publishexit.h"

#include <QCryptographicHash>
#include <QFile>

#include <zlib.h>

namespace {

constexpr qint64 blockSize = 1 << 16;

void openOrThrow(QFile& file, QIODevice::OpenMode mode)
{
    if (!file.open(mode)) {
        const bool reading = mode & QIODevice::ReadOnly;
        throw ToolError(reading ? PublishInput : PublishOutput,
            QStringLiteral("Cannot open %1 for %2: %3")
                .arg(file.fileName(), reading ? QStringLiteral("reading") : QStringLiteral("writing"),
                    file.errorString()));
    }
}

void writeOrThrow(QFile& file, const char* data, qint64 len)
{
    if (file.write(data, len) != len)
        throw ToolError(
            PublishOutput, QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString()));
}

QByteArray readBlockOrThrow(QFile& file)
{
    const QByteArray block = file.read(blockSize);
    if (block.isEmpty() && file.error() != QFileDevice::NoError)
        throw ToolError(
            PublishInput, QStringLiteral("Cannot read %1: %2").arg(file.fileName(), file.errorString()));
    return block;
}

void finishTarget(QFile& out, const QFile& in)
{
    if (!out.flush())
        throw ToolError(
            PublishOutput, QStringLiteral("Cannot write %1: %2").arg(out.fileName(), out.errorString()));
    // Only the owner, group and other bits: the "user" flags describe the
    // running user's access and would mark every file executable for root.
    const QFileDevice::Permissions modeBits(0x7077);
    out.setPermissions(in.permissions() & modeBits);
    out.close();
}

} // namespace

FileDigest copyFile(const QString& source, const QString& target)
{
    QFile in(source);
    QFile out(target);
    openOrThrow(in, QIODevice::ReadOnly);
    openOrThrow(out, QIODevice::WriteOnly | QIODevice::Truncate);
    QCryptographicHash md5(QCryptographicHash::Md5);
    FileDigest digest;
    for (;;) {
        const QByteArray block = readBlockOrThrow(in);
        if (block.isEmpty())
            break;
        md5.addData(block);
        digest.size += quint64(block.size());
        writeOrThrow(out, block.constData(), block.size());
    }
    finishTarget(out, in);
    digest.md5 = md5.result().toHex();
    return digest;
}

PackResult gzipFile(const QString& source, const QString& target)
{
    QFile in(source);
    QFile out(target);
    openOrThrow(in, QIODevice::ReadOnly);
    openOrThrow(out, QIODevice::WriteOnly | QIODevice::Truncate);

    z_stream stream {};
    // 15 + 16 window bits ask for the gzip wrapper. Without a header of our
    // own zlib writes no name and a zero time, which keeps the output stable.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw ToolError(PublishCrypto, QStringLiteral("zlib cannot start packing %1").arg(source));
    QCryptographicHash plainMd5(QCryptographicHash::Md5);
    QCryptographicHash packedMd5(QCryptographicHash::Md5);
    PackResult result;
    QByteArray buffer(blockSize, Qt::Uninitialized);
    int rc = Z_OK;
    try {
        bool atEnd = false;
        while (rc != Z_STREAM_END) {
            QByteArray block;
            if (!atEnd) {
                block = readBlockOrThrow(in);
                atEnd = block.isEmpty();
                plainMd5.addData(block);
                result.unpacked.size += quint64(block.size());
            }
            stream.next_in = reinterpret_cast<Bytef*>(block.data());
            stream.avail_in = uInt(block.size());
            do {
                stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
                stream.avail_out = uInt(buffer.size());
                rc = deflate(&stream, atEnd ? Z_FINISH : Z_NO_FLUSH);
                if (rc == Z_STREAM_ERROR)
                    throw ToolError(PublishCrypto, QStringLiteral("zlib failed packing %1").arg(source));
                const qint64 produced = buffer.size() - qint64(stream.avail_out);
                packedMd5.addData(QByteArrayView(buffer.constData(), produced));
                result.packed.size += quint64(produced);
                writeOrThrow(out, buffer.constData(), produced);
            } while (stream.avail_out == 0);
        }
    } catch (...) {
        deflateEnd(&stream);
        throw;
    }
    deflateEnd(&stream);
    finishTarget(out, in);
    result.unpacked.md5 = plainMd5.result().toHex();
    result.packed.md5 = packedMd5.result().toHex();
    return result;
}
