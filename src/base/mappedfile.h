// A whole file mapped into memory, so that a large file can be read or
// written as one buffer without being copied into the heap.
#pragma once

#include <QString>

/// Holds one mapping and unmaps it when destroyed. Its pages belong to the
/// page cache (they count as the process's file-backed memory, not its
/// anonymous memory), so mapping a file of gigabytes costs address space,
/// not memory. An empty file is held without a mapping; data() is then null.
/// Used on one thread at a time; not a QObject.
class MappedFile final {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    /// Maps the whole of path read-only, hinting that it will be read from
    /// start to end. False, with errorString() set, when it cannot be opened
    /// or mapped. The file must not shrink while it is mapped.
    bool openForReading(const QString& path);
    /// Creates path (replacing what is there) with size bytes reserved on
    /// disk, and maps it writable: what is written to writableData() is the
    /// file's content. Reserving first means a full disk fails here, not as
    /// a fault at some write into the mapping. False, with errorString() set
    /// and nothing left at path, on failure.
    bool createForWriting(const QString& path, quint64 size);
    /// Unmaps and closes; what was written stays in the file (not flushed).
    void close();

    const char* data() const { return mapped; }
    char* writableData() { return writable ? mapped : nullptr; }
    quint64 size() const { return length; }
    /// What failed and why, naming the file.
    QString errorString() const { return lastError; }

private:
    bool fail(const QString& what, int errorCode);

    char* mapped = nullptr;
    quint64 length = 0;
    bool writable = false;
    QString path;
    QString lastError;
};
