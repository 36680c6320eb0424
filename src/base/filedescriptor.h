// A file descriptor that is closed on every way out of its scope.
#pragma once

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

/// open(2) of a native path, again while a signal interrupts it; -1 with
/// errno set on failure.
inline int openRetrying(const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

class FileDescriptor final {
public:
    /// Takes over fd; a negative value (a failed open) is held and never closed.
    explicit FileDescriptor(int fd)
        : descriptor(fd)
    {
    }
    ~FileDescriptor()
    {
        if (descriptor >= 0)
            ::close(descriptor);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int fd() const { return descriptor; }

private:
    int descriptor;
};
