// A file descriptor owned by the publisher, whose failures name the file and
// the system's reason ("No space left on device"), not a generic text.
#pragma once

#include <QString>

#include <sys/types.h>

class PosixFile final {
public:
    /// Throw ToolError (PublishInput for reading, PublishOutput for writing).
    static PosixFile openForReading(const QString& path);
    /// Creates or truncates path with the permission bits mode (not masked
    /// by the umask).
    static PosixFile createForWriting(const QString& path, mode_t mode);

    PosixFile(PosixFile&& other) noexcept;
    PosixFile& operator=(PosixFile&&) = delete;
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;
    ~PosixFile();

    /// Up to size bytes; 0 at the end of the file.
    qint64 read(char* data, qint64 size);
    void write(const char* data, qint64 size);
    /// The permission bits of the file.
    mode_t mode() const;
    /// Closes a written file; a full disk can show only here (network and
    /// quota file systems report late).
    void close();

private:
    PosixFile(int fd, QString path);

    int fd;
    QString path;
};

/// Creates path and its missing parents; throws ToolError(PublishOutput) with
/// the reason when one cannot be made.
void makeFolders(const QString& path);

/// The system's text for errno.
QString systemReason();
