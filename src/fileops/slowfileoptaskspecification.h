// Base of the file operations that run on the thread pool (copy, unpack) and
// journal the file they put in place once the worker reports success.
#pragma once

#include "fileops/installoptions.h"
#include "tasks/asynctaskspecification.h"

class RollbackDataList;
class StagedFile;

class SlowFileOpTaskSpecification : public ASyncTaskSpecification {
    Q_OBJECT
public:
    /// failureMessage: the complete log line for a failure.
    /// list: journal to record into, not owned; null records nothing.
    SlowFileOpTaskSpecification(QString failureMessage, RollbackDataList* list, const QString& source,
        const QString& destination, QObject* parent, double parentProgressRange);

    /// Before execute(): how the new file is checked and put in place.
    void setInstallOptions(const InstallOptions& options);

protected:
    /// Also takes the worker's reason for a failure (see SlowFileOpFunc::failed).
    void connectDefaultSignals(ASyncFunc* func) override;
    /// GUI thread, with the worker's result.
    void runDone(bool ok) override;
    /// A file the abandoned run put in place is journaled all the same.
    void abandonedRunDone(bool ok) override;
    /// The worker writes into the destination's directory.
    bool waitsForAbandonedRun() const override { return true; }

    RollbackDataList* rollbackList;
    QString source;
    QString destination;
    QString failureMessage;
    InstallOptions options;

private:
    void journalPlaced(bool ok);

    // What the system said about the failure of the current run, or empty.
    QString failureReason;
};

/// Worker base: holds its own copies of the paths and options.
class SlowFileOpFunc : public ASyncFunc {
    Q_OBJECT
public:
    SlowFileOpFunc(const QString& source, const QString& destination, const InstallOptions& options = {});

signals:
    /// The system's reason for the failure run() is about to return, such as
    /// "No space left on device"; the task adds it to its failure line.
    void failure(QString reason);

protected:
    /// Reports the reason of a failed system call (errno; 0 says nothing)
    /// and returns false, for "return failed(errno);".
    bool failed(int errorCode);
    /// The same with the reason as text, such as QFile::errorString().
    bool failed(const QString& reason);
    /// The permission bits the new file is created with, before the umask.
    int creationMode() const { return options.mode >= 0 ? options.mode : 0666; }
    /// False, touching nothing, when the destination exists and is not to be replaced.
    bool destinationIsFree() const;
    /// Checks the staged content against the expected digest, settles its
    /// permission bits and puts it in place.
    bool installStaged(StagedFile& staged);

    QString source;
    QString destination;
    InstallOptions options;
};
