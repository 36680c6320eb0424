// Copies or gzip-packs release files into the mirror tree and digests both
// sides on the way, reading each source once.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>

struct z_stream_s;

struct FileDigest {
    QByteArray md5; // lower-case hexadecimal
    quint64 size = 0;
};

/// Counts the source bytes read so far, shared by the packing threads.
using ByteCounter = std::atomic<quint64>;

struct PackResult {
    FileDigest packed; // the .gz file on the mirror
    FileDigest unpacked; // the content it unpacks to
};

/// Copies and packs one file after another through buffers and a zlib stream
/// that it keeps, so that a release of many small files does not cost an
/// allocation and a zlib set-up per file. One per thread. Each call throws
/// ToolError when a side cannot be used, and adds what it reads to progress
/// when given.
class FilePacker final {
public:
    FilePacker();
    ~FilePacker();
    FilePacker(const FilePacker&) = delete;
    FilePacker& operator=(const FilePacker&) = delete;

    /// Copies source to target (permission bits included) and returns the
    /// digest of the content.
    FileDigest copy(const QString& source, const QString& target, ByteCounter* progress = nullptr);
    /// Writes source gzip-packed at zlib's level (1 to 9) to target in the
    /// format GNU gzip reads, with no file name and a zero time stamp, so that
    /// the same content always packs to the same bytes.
    PackResult gzip(const QString& source, const QString& target, int level, ByteCounter* progress = nullptr);
    /// The digest of the file at path, read once.
    FileDigest digest(const QString& path);
    /// Unpacks source as the updater does (a file without a gzip header is
    /// taken as it is) into target and returns the digest of what it wrote;
    /// throws ToolError(PublishInput) when source does not unpack whole.
    FileDigest gunzip(const QString& source, const QString& target);

private:
    struct StreamEnd {
        void operator()(z_stream_s* stream) const;
    };
    // The stream for level, as freshly set up.
    z_stream_s& deflater(int level, const QString& source);

    std::unique_ptr<char[]> block;
    std::unique_ptr<char[]> packed;
    std::unique_ptr<z_stream_s, StreamEnd> stream;
    int streamLevel = 0;
};

/// FilePacker::copy for a single file.
FileDigest copyFile(const QString& source, const QString& target, ByteCounter* progress = nullptr);
