// A file descriptor that is closed on every way out of its scope.
#pragma once

#include <unistd.h>

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
