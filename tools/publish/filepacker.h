// Copies or gzip-packs one release file into the mirror tree and digests both
// sides on the way, reading the source once.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

struct FileDigest {
    QByteArray md5; // lower-case hexadecimal
    quint64 size = 0;
};

// Counts the source bytes read so far, shared by the packing threads.
using ByteCounter = std::atomic<quint64>;

// Copies source to target (permission bits included) and returns the digest
// of the content; adds what it reads to progress when given. Throws ToolError
// when a side cannot be used.
FileDigest copyFile(const QString& source, const QString& target, ByteCounter* progress = nullptr);

struct PackResult {
    FileDigest packed; // the .gz file on the mirror
    FileDigest unpacked; // the content it unpacks to
};

// Writes source gzip-packed at zlib's level (1 to 9) to target in the format
// GNU gzip reads, with no file name and a zero time stamp, so that the same
// content always packs to the same bytes. Throws ToolError on failure.
PackResult gzipFile(const QString& source, const QString& target, int level, ByteCounter* progress = nullptr);
