// Keeps the paths named by the product ini below the directory they belong
// to: nothing the updater writes, renames or deletes may lie outside the
// client directory or the temporary directory.
#pragma once

class QString;

namespace PathGuard {

/// True for a non-empty relative path made of plain names: no leading "/",
/// no "." or ".." component, no empty component.
bool isPlainRelativePath(const QString& relative);

/// root + "/" + relative when relative is a plain relative path and no
/// existing directory on the way (a symbolic link, say) leads outside root;
/// otherwise an empty string. Only the directories are looked at: a file at
/// the end that is itself a link is renamed or removed as the link it is.
QString pathInside(const QString& root, const QString& relative);

} // namespace PathGuard
