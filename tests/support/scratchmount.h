// A small file system of its own for one test: a tmpfs of a chosen size,
// writable or read-only, so that a full disk and a read-only directory are
// real and not imitated.
#pragma once

#include <functional>

#include <QString>
#include <QTemporaryDir>

/*!
    Mounts a tmpfs of sizeBytes on an empty temporary directory and unmounts
    it when destroyed. Mounting needs root (CI runs as root); elsewhere, or
    where the kernel refuses, isMounted() is false and skipReason() says why,
    for a QSKIP. A read-only mount is filled through fill() first: it is
    mounted writable, filled, then remounted read-only.
*/
class ScratchMount final {
public:
    enum Mode { Writable, ReadOnly };

    // fill, if given, runs on the writable mount before it turns read-only.
    explicit ScratchMount(
        qint64 sizeBytes, Mode mode = Writable, const std::function<void(const QString& path)>& fill = {});
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    bool isMounted() const { return mounted; }
    QString skipReason() const { return reason; }
    QString path() const { return mountPoint.path(); }

    // Whether permission bits bind this process (root ignores them).
    static bool permissionsApply();

private:
    QTemporaryDir mountPoint;
    bool mounted = false;
    QString reason;
};
