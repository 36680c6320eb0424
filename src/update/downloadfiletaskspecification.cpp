// Fetches one file of the release and checks it by MD5.
#include "downloadfiletaskspecification.h"

#include <QFile>

#include "crypto/checksignaturetaskspecification.h"
#include "net/downloadtaskspecification.h"
#include "net/mirrors.h"

DownloadFileTaskSpecification::DownloadFileTaskSpecification(const FileDownloadSpecification& fileSpec,
    QNetworkAccessManager* manager, Mirrors* mirrors, const UpdateParameters& parameters, QObject* parent,
    double parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent)
    , fileSpec(fileSpec)
    , networkManager(manager)
    , mirrors(mirrors)
    , parameters(parameters)
{
}

void DownloadFileTaskSpecification::execute()
{
    // The download announces itself.
    makeSubtasksAndStart();
}

QString DownloadFileTaskSpecification::localPath() const
{
    return parameters.tempDir + QLatin1Char('/') + fileSpec.fileName;
}

void DownloadFileTaskSpecification::makeSubtasksAndStart()
{
    const QString remote = fileSpec.section + QLatin1Char('/') + fileSpec.fileName;
    currentDownload = new DownloadTaskSpecification(
        networkManager, mirrors, remote, localPath(), static_cast<qint64>(fileSpec.size), this, 0.8);
    if (spaceNeeded)
        currentDownload->setSpaceNeeded(spaceNeeded);
    addSubTask(currentDownload);

    auto* check = new CheckSignatureTaskSpecification(localPath(), fileSpec.md5, false, this, 0.2);
    // The download takes the digest as the bytes arrive; the check only
    // compares it, instead of reading the whole file once more.
    DownloadTaskSpecification* download = currentDownload;
    connect(download, &TaskSpecification::finished, check,
        [download, check] { check->useDigest(download->md5Hex()); });
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &DownloadFileTaskSpecification::onSigCheckDone);
    addSubTask(check);

    setRunning();
    executeSubTasks();
}

bool DownloadFileTaskSpecification::needsSpace() const
{
    // A copy being checked already lies on disk.
    return state() != Finished && !(currentDownload && currentDownload->state() == Finished);
}

void DownloadFileTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification*)
{
    if (pass)
        return;

    // A copy continued from an earlier run's part may have been stitched
    // onto a part that was damaged on this disk; the mirror gets the
    // benefit of the doubt once, and the file is fetched whole.
    if (currentDownload->wasResumed() && !fetchedWholeAfterResume && !cancelRequested() && !stageFailed) {
        emit message(QStringLiteral("md5 sum for %1 failed after resuming, fetching it again from the start")
                         .arg(fileSpec.fileName));
        fetchedWholeAfterResume = true;
        reset();
        QFile::remove(localPath());
        makeSubtasksAndStart();
        return;
    }

    // Whatever happens next, the mirror that served a bad copy serves no
    // other file of this session.
    mirrors->removeMirror(currentDownload->getMirror().name);

    if (cancelRequested() || stageFailed) {
        emit message(QStringLiteral("md5 sum for %1 failed, invalidating mirror").arg(fileSpec.fileName));
        // Fetching again would start a transfer after the stage has given up
        // (a retry resets the cancel request). The check would finish this
        // task as if the copy were good, so end it here, before the check's
        // own end, which reaches nobody once the subtasks are cleared.
        const bool byUser = cancelRequested();
        clearSubTasks();
        currentDownload = nullptr;
        QFile::remove(localPath());
        if (byUser)
            userCancel();
        else
            errorCancel();
        return;
    }

    emit message(
        QStringLiteral("md5 sum for %1 failed, invalidating mirror and retrying").arg(fileSpec.fileName));
    reset();
    makeSubtasksAndStart();
}

void DownloadFileTaskSpecification::subtasksDone()
{
    if (getStateFromSubTasks() != Finished) {
        ComposedTaskSpecification::subtasksDone();
        return;
    }
    kept = ComposedTaskSpecification::timeTick();
    kept.active = false;
    figuresKept = true;
    clearSubTasks();
    currentDownload = nullptr;
    finish();
}

TransferFigures DownloadFileTaskSpecification::timeTick()
{
    if (!figuresKept)
        return ComposedTaskSpecification::timeTick();
    const TransferFigures figures = kept;
    kept.speed = 0;
    return figures;
}

void DownloadFileTaskSpecification::handleOtherTaskCancelled(TaskSpecification* other)
{
    stageFailed = true;
    ComposedTaskSpecification::handleOtherTaskCancelled(other);
}

void DownloadFileTaskSpecification::reset()
{
    clearSubTasks();
    currentDownload = nullptr;
    stageFailed = false;
    figuresKept = false;
    kept = TransferFigures();
    TaskSpecification::reset();
}
