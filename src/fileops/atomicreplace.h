// Putting a finished file in place of another in one atomic step, so that the
// name always holds one whole version of its content, and taking that step
// back. The one place where the installation touches names in the client
// directory for good.
#pragma once

class QString;

namespace AtomicReplace {

/// Whether a step flushes its directory itself, or the caller flushes it
/// once after many steps (and before anything relies on them surviving a
/// power cut).
enum class DirectoryFlush { Now, ByCaller };

/// The staging name of target, where its new content is written: the same
/// directory, ReleaseNames::stagingPrefix() before its name. A name with that
/// prefix is never a finished file; whoever finds one that no run is writing
/// may delete it.
QString stagingPath(const QString& target);
/// Removes the staging file of target, if there is one.
void discardStaged(const QString& target);

/// Puts the complete file fresh at target and keeps target's previous content
/// at old, which must not exist; all three lie in one directory. At every
/// instant target names either its previous or its new content, whole: a hard
/// link keeps the previous content at old before fresh is renamed over target,
/// or, where hard links are refused, the two are exchanged and the previous
/// content is then renamed to old. Only on a file system that offers neither
/// is target missing for the instant between two renames. The directory is
/// flushed to stable storage before this returns. On failure nothing has
/// changed.
bool replaceKeepingOld(const QString& fresh, const QString& target, const QString& old,
    DirectoryFlush flush = DirectoryFlush::Now);

/// Puts the complete file fresh at target, which must not exist, in one step;
/// flushed like replaceKeepingOld. On failure nothing has changed.
bool putInPlace(const QString& fresh, const QString& target, DirectoryFlush flush = DirectoryFlush::Now);

/// replaceKeepingOld with old set, putInPlace with old empty.
bool place(const QString& fresh, const QString& target, const QString& old,
    DirectoryFlush flush = DirectoryFlush::Now);

/// The undo of replaceKeepingOld: old takes target's name again in one step,
/// and the content target had goes. Flushed like the others.
bool restoreOld(const QString& old, const QString& target);

/// Flushes the directory that holds path, so that renames and links in it
/// survive a power cut. Best effort: file systems that cannot flush a
/// directory count as done.
void syncDirectoryOf(const QString& path);

} // namespace AtomicReplace
