// Small file helpers shared by the tests: write and read real files, take a
// snapshot of a directory tree to prove it is byte-for-byte unchanged.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace TestFiles {

// Writes data to path, creating missing parent directories; false on failure.
bool write(const QString& path, const QByteArray& data);
// The whole content of path, or an empty array when it cannot be read.
QByteArray read(const QString& path);
// Lower-case hexadecimal MD5 of data.
QByteArray md5Hex(const QByteArray& data);
// size bytes that do not compress, the same for the same seed.
QByteArray noise(qint64 size, quint32 seed);
// gzip-packed data (RFC 1952) made with zlib, as GNU gzip would write it.
QByteArray gzip(const QByteArray& data);
// Every entry below root (files, directories, symbolic links), keyed by its
// relative path: a file maps to its MD5 and permission bits, a directory to
// "<dir>", a link to its target. Two equal snapshots mean an unchanged tree.
QMap<QString, QString> snapshot(const QString& root);

} // namespace TestFiles
