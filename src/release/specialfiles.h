// The updater's own files in the client directory: its program and
// libraries, which an update renames aside instead of overwriting, and its
// configuration and lock, which no release may take away.
#pragma once

#include <QStringList>

namespace SpecialFiles {

/// File names (last path component) of the updater's program and libraries:
/// they are in use while it runs, so their "_old_" copies wait for the next
/// start.
const QStringList& names();
bool isSpecialFileName(const QString& name);

/// "update.ini": the user's settings and the record of an unfinished update.
const QString& updateIni();
/// "mirrors.ini": the mirrors the updater downloads from.
const QString& mirrorsIni();
/// "update.lock": the file an updater holds locked while it runs.
const QString& lockFile();

/// True for a path relative to the client directory that is one of the
/// updater's own files: its program, a library of it, its configuration or
/// its lock. All of them lie directly in the client directory.
bool isOwnFile(const QString& path);

} // namespace SpecialFiles
