// The new content of one installed file: written beside its destination,
// checked, made durable, and only then put in place in one atomic step.
#pragma once

#include <QCryptographicHash>
#include <QString>

#include "fileops/newfile.h"

/// Written on one thread at a time; not a QObject. Until install() succeeds
/// the destination is never touched, and the destructor removes whatever was
/// staged.
class StagedFile final {
public:
    /// Creates the staging file (AtomicReplace::stagingPath) with mode before
    /// the umask. A staging file of that name that a cut-off run left behind
    /// is removed first. sameContent: see NewFile.
    StagedFile(const QString& destination, int mode, int sameContent = -1);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    bool isOpen() const { return file.isOpen(); }
    /// Writes all of size bytes and adds them to the digest. A staging file
    /// that is a second name of its source has them already: they are only
    /// digested, so the check still covers every byte installed.
    bool write(const char* data, qint64 size);
    /// MD5 of every byte written so far, lower-case hexadecimal.
    QByteArray md5Hex() const;
    /// Sets the permission bits exactly (no umask).
    bool setMode(int mode);
    /// Gives the staged file the permission bits of the regular file at path;
    /// true without a change when there is none.
    bool takeModeOf(const QString& path);
    /// Flushes the content to stable storage and puts it at the destination:
    /// in place of the existing file, whose content then stays at oldPath,
    /// or, with an empty oldPath, only where no file is. False leaves the
    /// destination as it was.
    bool install(const QString& oldPath);
    /// Leaves the content, unflushed, at the staging name for BatchInstall to
    /// flush and put in place together with other files; the destination is
    /// not touched. False removes what was staged.
    bool keepStaged();

private:
    QString destination;
    QString staging;
    NewFile file;
    QCryptographicHash hash;
    bool committed = false;
    bool installed = false;
};
