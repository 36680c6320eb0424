// MD5 digests of whole files, taken block by block through one buffer that
// the object keeps, so that hashing thousands of files allocates once.
#pragma once

#include <memory>

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

/// One object per thread; it is not shared. Memory stays at one block
/// whatever the size or number of the files.
class FileMd5 final {
public:
    enum Outcome {
        Digested, // the whole file was read; hex() is its digest
        NotOpened, // missing, or no permission
        NotReadWhole, // a read failed, or the file yielded another number of bytes than its size
        SizeDiffers, // not read: its size is not the one required
    };

    FileMd5();
    ~FileMd5();
    FileMd5(const FileMd5&) = delete;
    FileMd5& operator=(const FileMd5&) = delete;

    /// Reads and digests path. With requiredSize >= 0 a file of another size
    /// is not read at all: it cannot be the file that was asked for.
    Outcome digest(const QString& path, qint64 requiredSize = -1);
    /// Lower-case hexadecimal digest of the last file digested.
    const QByteArray& hex() const { return lastHex; }
    /// True if path holds requiredSize bytes (any size for -1) whose digest is
    /// md5Hex, compared ignoring case; false for a missing or unreadable file.
    bool matches(const QString& path, const QString& md5Hex, qint64 requiredSize = -1);

private:
    std::unique_ptr<char[]> block;
    QCryptographicHash hash;
    QByteArray lastHex;
};
