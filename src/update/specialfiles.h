// The updater's own files, which an update renames aside instead of
// overwriting.
#pragma once

#include <QStringList>

namespace SpecialFiles {

/// File names (last path component) of the updater's own files: they are in
/// use while it runs, so their "_old_" copies wait for the next start.
const QStringList& names();
bool isSpecialFileName(const QString& name);

} // namespace SpecialFiles
