// Why files could not be written to a local directory, said so that the user
// can act on it, and how much room a directory has left.
#pragma once

#include <QtGlobal>

class QString;

namespace WriteFailure {

/// Bytes that the running user may still write to the file system holding
/// dir (what statvfs calls available, not free), or -1 when unknown.
qint64 freeSpace(const QString& dir);

/// The message that stops an update whose downloads cannot be written to
/// dir; errorCode is the errno of the failed call. When room is what is
/// missing (ENOSPC, EDQUOT) and bytesNeeded is not negative, it also says
/// how much the downloads still need and, unless bytesFree is negative or
/// a quota is the limit, how much is free.
QString message(const QString& dir, int errorCode, qint64 bytesNeeded, qint64 bytesFree);

} // namespace WriteFailure
