// How a run of the updater ended, as its exit code tells the caller.
#pragma once

namespace ExitCode {

/// Updated, already up to date, or handed over to a running updater.
constexpr int success = 0;
/// The configuration cannot be resolved.
constexpr int configuration = 1;
/// The update failed; a cut-short installation has been rolled back.
constexpr int updateFailed = 2;
/// The command line cannot be used, or the window has no display to open
/// on: as after a failed update, nothing was changed.
constexpr int usage = 2;
/// Another updater is updating this installation, or the lock that keeps
/// others out cannot be taken; nothing was changed.
constexpr int otherUpdater = 3;
/// The version information was refused: it would take the client back to an
/// older version than the installed one, or came in a release statement that
/// has expired or is older than one already followed. Nothing was changed.
constexpr int refused = 4;
/// A check found an update to install (console).
constexpr int updateAvailable = 100;
/// Cancelled by a signal: this plus the signal's number, as shells report it.
constexpr int signalBase = 128;

} // namespace ExitCode
