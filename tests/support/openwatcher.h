// Sees which files of a directory anyone opens, so a test can show that code
// which should not read them never tried to.
#pragma once

#include <QString>
#include <QStringList>

/// Watches the files directly in dir (inotify, open events) from its
/// construction on; opened() collects what happened since. No sleep or
/// polling: events are queued by the kernel and read when asked for.
class OpenWatcher final {
public:
    explicit OpenWatcher(const QString& dir);
    ~OpenWatcher();
    OpenWatcher(const OpenWatcher&) = delete;
    OpenWatcher& operator=(const OpenWatcher&) = delete;

    /// Whether the watch is set; without it opened() stays empty.
    bool isWatching() const { return watch >= 0; }
    /// The names of the files opened so far, in order, once per opening.
    QStringList opened();

private:
    int fd = -1;
    int watch = -1;
    QStringList seen;
};
