// Where the client directory is: the program's own directory, or the folder a
// test points it at.
#pragma once

class QString;

namespace AppRootPath {

/// The client directory that an update changes.
QString get();
/// Points get() at another directory; an empty path restores the program's
/// own directory. Tests keep their client directory in a temporary folder.
void setOverride(const QString& path);

} // namespace AppRootPath
