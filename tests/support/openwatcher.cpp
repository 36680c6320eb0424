// Sees which files of a directory anyone opens.
#include "openwatcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QFile>

OpenWatcher::OpenWatcher(const QString& dir)
    : fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (fd >= 0)
        watch = ::inotify_add_watch(fd, QFile::encodeName(dir).constData(), IN_OPEN);
}

OpenWatcher::~OpenWatcher()
{
    if (fd >= 0)
        ::close(fd);
}

QStringList OpenWatcher::opened()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = fd >= 0 ? ::read(fd, buffer, sizeof buffer) : -1;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0)
                seen.append(QFile::decodeName(event->name));
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    return seen;
}
