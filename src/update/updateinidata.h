// The record of an unfinished update session: the group "current" of
// update.ini, naming the temporary directory a later run may continue in;
// and the record of what the last finished update installed, the group
// "installed".
#pragma once

class QDateTime;
class QString;

namespace UpdateIniData {

/// Absolute path of update.ini in the client directory.
QString filename();
/// True when a valid record exists: version is an integer, type and dir are
/// not empty and something exists at dir. Only then are the non-null
/// out-parameters filled; otherwise none is touched.
bool get(int* version, QString* type, QString* dir);
/// Why update.ini must not be written, or an empty text. A symbolic link is
/// never written through: the file it points to, wherever that is, would be
/// replaced by the record.
QString writeRefusal();
/// Writes the record; the other groups of update.ini stay as they are.
/// False when update.ini could not be written or writeRefusal() says no.
bool modify(int version, const QString& dir, const QString& type);
/// Removes the record and nothing else; nothing unless writeRefusal() is empty.
void cleanup();

/// The version the last finished update installed; 0 when none is recorded,
/// as in installations updated before the record existed, or when the value
/// is not a positive number.
int installedVersion();
/// When the release statement for channel (its key, "stable", "beta" or
/// "alpha") that the last finished update followed was issued; an invalid
/// time when none is recorded.
QDateTime statementIssued(const QString& channel);
/// Records a finished update: the version and, when valid, the issue time of
/// the statement it followed for channel. The other groups stay as they are.
/// False when update.ini could not be written or writeRefusal() says no.
bool recordInstalled(int version, const QString& channel, const QDateTime& issued);

} // namespace UpdateIniData
