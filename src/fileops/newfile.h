// An output file that this process creates from nothing and that only stays
// on disk once its whole content has reached stable storage.
#pragma once

#include <QString>

/// Creates path exclusively (an existing file is never opened, truncated or
/// removed). Unless commit() succeeds, the destructor removes the file again,
/// so a failed copy or unpack leaves nothing half-written behind.
/// Used on one thread at a time; not a QObject.
class NewFile final {
public:
    /// mode: permission bits for the new file, before the umask.
    /// sameContent: an open regular file of this user's whose content the new
    /// file is to have, or -1. Where the file system allows, path then becomes
    /// a second name of that file (a hard link): nothing needs writing, and
    /// the file keeps its own permission bits rather than mode. Otherwise, and
    /// always without sameContent, path is a new, empty file.
    explicit NewFile(const QString& path, int mode = 0666, int sameContent = -1);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    /// False if the file could not be created (it exists, no permission, ...).
    bool isOpen() const { return fd >= 0; }
    /// Whether path is a second name of sameContent: its content is there
    /// already, and write() is refused.
    bool sharesContent() const { return linked; }
    /// Writes all of size bytes; false on any error or short write.
    bool write(const char* data, qint64 size);
    /// Flushes the content to stable storage and closes the file; only a file
    /// committed successfully is kept.
    bool commit();
    /// Closes the file and keeps it without flushing it: for content that is
    /// not in use under this name and is flushed later together with others
    /// (see BatchInstall). False (a deferred write error) removes the file.
    bool keepUnflushed();
    /// Sets the permission bits exactly (no umask); false on failure.
    bool setMode(int mode);

private:
    bool linkTo(int sameContent);
    // Closes the file and keeps it, unless close() reports a write error.
    bool closeKept();
    void discard();

    QByteArray nativePath;
    int fd = -1;
    bool linked = false;
    bool committed = false;
};
