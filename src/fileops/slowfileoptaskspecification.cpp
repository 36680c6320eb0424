// Base of the file operations that run on the thread pool.
#include "slowfileoptaskspecification.h"

#include <utility>

#include <sys/stat.h>

#include <cerrno>

#include <QFile>

#include "fileops/rollback.h"
#include "fileops/stagedfile.h"

SlowFileOpTaskSpecification::SlowFileOpTaskSpecification(QString failureMessage, RollbackDataList* list,
    const QString& source, const QString& destination, QObject* parent, double parentProgressRange)
    : ASyncTaskSpecification(parent, parentProgressRange)
    , rollbackList(list)
    , source(source)
    , destination(destination)
    , failureMessage(std::move(failureMessage))
{
}

void SlowFileOpTaskSpecification::setInstallOptions(const InstallOptions& installOptions)
{
    options = installOptions;
}

void SlowFileOpTaskSpecification::connectDefaultSignals(ASyncFunc* func)
{
    ASyncTaskSpecification::connectDefaultSignals(func);
    // A new run starts without the reason of the one before; a stale reason
    // of an abandoned run arrives, queued like its result, before this.
    failureReason.clear();
    if (auto* fileOp = qobject_cast<SlowFileOpFunc*>(func)) {
        connect(
            fileOp, &SlowFileOpFunc::failure, this, [this](const QString& reason) { failureReason = reason; },
            Qt::QueuedConnection);
    }
}

void SlowFileOpTaskSpecification::runDone(bool ok)
{
    // A full disk or a size limit must be named; "could not copy" alone
    // leaves the user guessing.
    if (!ok)
        emit message(
            failureReason.isEmpty() ? failureMessage : failureMessage + QStringLiteral(": ") + failureReason);
    journalPlaced(ok);
    ASyncTaskSpecification::runDone(ok);
}

void SlowFileOpTaskSpecification::abandonedRunDone(bool ok)
{
    journalPlaced(ok);
}

void SlowFileOpTaskSpecification::journalPlaced(bool ok)
{
    // Journaled whatever became of the run: the file is in place now, and
    // only the journal will ever take it away again. A staged file is
    // journaled once it is put in place.
    if (ok && rollbackList && !options.deferPlacing)
        rollbackList->add(RollbackData::placed(destination, options.oldPath));
}

SlowFileOpFunc::SlowFileOpFunc(
    const QString& source, const QString& destination, const InstallOptions& options)
    : source(source)
    , destination(destination)
    , options(options)
{
}

bool SlowFileOpFunc::failed(int errorCode)
{
    return errorCode == 0 ? false : failed(qt_error_string(errorCode));
}

bool SlowFileOpFunc::failed(const QString& reason)
{
    emit failure(reason);
    return false;
}

bool SlowFileOpFunc::destinationIsFree() const
{
    struct stat info;
    return !options.oldPath.isEmpty() || ::lstat(QFile::encodeName(destination).constData(), &info) != 0;
}

bool SlowFileOpFunc::installStaged(StagedFile& staged)
{
    // Checked on the bytes as they were written, not as they lie in the
    // download: a file changed after its download check is never installed.
    if (!options.md5.isEmpty() && staged.md5Hex() != options.md5.toLower().toLatin1()) {
        emit message(QStringLiteral("Signature check failed for %1").arg(destination));
        return false;
    }
    if (options.keepReplacedMode && !options.oldPath.isEmpty() && !staged.takeModeOf(destination))
        return failed(errno);
    // The flush of install() is where a full disk shows at the latest.
    const bool placed = options.deferPlacing ? staged.keepStaged() : staged.install(options.oldPath);
    return placed || failed(errno);
}
