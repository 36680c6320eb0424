// The record of an unfinished update session: the group "current" of
// update.ini, naming the temporary directory a later run may continue in.
#pragma once

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

} // namespace UpdateIniData
