// Renaming a file without ever replacing one that already has the new name.
#pragma once

class QString;

/// Renames the file from to to; fails, leaving both names alone, if to exists.
/// Atomic where the file system supports it. Same file system only.
bool renameNoReplace(const QString& from, const QString& to);

/// True when error says that the file system does not offer a way of renaming
/// or linking (a flag, hard links), as opposed to refusing the names involved.
bool renameWayUnsupported(int error);
