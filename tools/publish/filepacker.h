// Copies or gzip-packs one release file into the mirror tree and digests both
// sides on the way, reading the source once.
#pragma once

#include <QByteArray>
#include <QString>

struct FileDigest {
    QByteArray md5; // lower-case hexadecimal
    quint64 size = 0;
};

// Copies source to target (permission bits included) and returns the
// digest of the content. Throws ToolError when a side cannot be used.
FileDigest copyFile(const QString& source, const QString& target);

struct PackResult {
    FileDigest packed; // the .gz file on the mirror
    FileDigest unpacked; // the content it unpacks to
};

// Writes source gzip-packed to target in the format GNU gzip reads: best
// compression, no file name and a zero time stamp, so that the same content
// always packs to the same bytes. Throws ToolError on failure.
PackResult gzipFile(const QString& source, const QString& target);
