// How a copy or an unpack puts the file it writes in place.
#pragma once

#include <QString>

/// The defaults create a destination that must not exist yet.
struct InstallOptions {
    /// Expected MD5 of the bytes written, hexadecimal in either case; a file
    /// that does not match is never put in place. Empty: not checked.
    QString md5;
    /// The most bytes an unpack may write; it stops, and fails, as soon as
    /// the content would grow past them. -1: no limit.
    qint64 sizeLimit = -1;
    /// Permission bits of the new file before the umask; -1: the copy takes
    /// the source's bits, the unpack 0666.
    int mode = -1;
    /// When a file is replaced, the new one takes over its permission bits.
    bool keepReplacedMode = false;
    /// Replace the destination, keeping its previous content under this name
    /// in the same directory (which must not exist). Empty: the destination
    /// must not exist.
    QString oldPath;
    /// Leave the checked content, unflushed, under its staging name
    /// (AtomicReplace::stagingPath) for BatchInstall, which flushes many such
    /// files at once and then puts them in place; nothing is journaled here.
    bool deferPlacing = false;
};
