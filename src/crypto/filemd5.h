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
    };

    FileMd5();
    ~FileMd5();
    FileMd5(const FileMd5&) = delete;
    FileMd5& operator=(const FileMd5&) = delete;

    /// Reads and digests path.
    Outcome digest(const QString& path);
    /// Lower-case hexadecimal digest of the last file digested.
    const QByteArray& hex() const { return lastHex; }
    /// True if the digest of path is md5Hex, compared ignoring case; false
    /// for a missing or unreadable file.
    bool matches(const QString& path, const QString& md5Hex);

private:
    std::unique_ptr<char[]> block;
    QCryptographicHash hash;
    QByteArray lastHex;
};
