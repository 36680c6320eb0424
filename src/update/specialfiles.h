// The updater's own files, which an update renames aside instead of
// overwriting, and the prefix of every file moved aside.
#pragma once

#include <QStringList>

namespace SpecialFiles {

/// File names (last path component) of the updater's own files: they are in
/// use while it runs, so their "_old_" copies wait for the next start.
const QStringList& names();
bool isSpecialFileName(const QString& name);
/// "_old_": put before the last path component of a file moved aside.
const QString& renamePrefix();

} // namespace SpecialFiles
