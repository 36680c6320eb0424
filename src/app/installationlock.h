// The lock that keeps two updaters, of the same or of different users, from
// changing one installation at the same time.
#pragma once

#include <QByteArray>

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
        Unavailable, ///< the lock cannot be taken (see unavailableMessage()): change nothing
    };

    InstallationLock() = default;
    ~InstallationLock();
    Q_DISABLE_COPY(InstallationLock)

    /// Takes the lock without waiting. Only Acquired lets a run change the
    /// installation: without the lock nothing keeps a second updater out.
    Outcome acquire(const QString& clientDir);
    /// After Unavailable, what a front-end tells the user: the lock file and
    /// why it could not be opened or locked; translated.
    QString unavailableMessage() const;
    /// Whether another updater holds the lock now. Neither makes the lock
    /// file nor keeps a lock: for runs that change nothing.
    static bool heldElsewhere(const QString& clientDir);
    /// What a front-end tells the user after HeldElsewhere; translated.
    static QString busyMessage(const QString& clientDir);
    /// "update.lock"
    static QString fileName();

private:
    int fd = -1;
    QByteArray path;
    // The errno of the failed acquire(), 0 after any other outcome.
    int failure = 0;
};
