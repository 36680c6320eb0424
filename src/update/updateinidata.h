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
/// Writes the record; the other groups of update.ini stay as they are.
/// False when update.ini could not be written.
bool modify(int version, const QString& dir, const QString& type);
/// Removes the record and nothing else.
void cleanup();

} // namespace UpdateIniData
