// The lock that keeps two updaters, of the same or of different users, from
// changing one installation at the same time.
#pragma once

#include <QtGlobal>

class QString;

/// An exclusive lock on the file "update.lock" in the client directory, held
/// from a successful acquire() until the object is destroyed. The kernel
/// drops it with the process, so a killed updater leaves no stale lock, and
/// the descriptor is closed in every program the updater starts (the client
/// outlives it and must not hold the lock). The file itself stays: removing
/// it would let two updaters lock two different files.
class InstallationLock final {
public:
    enum Outcome {
        Acquired, ///< this run may change the installation
        HeldElsewhere, ///< another updater is changing it: change nothing
        Unavailable, ///< no lock file can be opened here (a directory this user cannot write)
    };

    InstallationLock() = default;
    ~InstallationLock();
    Q_DISABLE_COPY(InstallationLock)

    /// Takes the lock without waiting. Unavailable also means that this user
    /// cannot change the installation, which later steps report.
    Outcome acquire(const QString& clientDir);
    /// Whether another updater holds the lock now. Neither makes the lock
    /// file nor keeps a lock: for runs that change nothing.
    static bool heldElsewhere(const QString& clientDir);
    /// What a front-end tells the user after HeldElsewhere; translated.
    static QString busyMessage(const QString& clientDir);
    /// "update.lock"
    static QString fileName();

private:
    int fd = -1;
};
