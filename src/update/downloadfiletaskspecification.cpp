// Fetches one file of the release and checks it by MD5.
#include "downloadfiletaskspecification.h"

#include <QFile>

#include "crypto/checksignaturetaskspecification.h"
#include "net/downloadtaskspecification.h"
#include "net/mirrors.h"
#include "update/patchapplytaskspecification.h"

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
    if (fileSpec.patch && !patchGivenUp) {
        makePatchSteps();
        return;
    }
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

void DownloadFileTaskSpecification::makePatchSteps()
{
    const FilePatchSpecification& patch = *fileSpec.patch;
    const QString patchFile = FilePatchSpecification::patchFileOf(localPath());
    currentDownload = new DownloadTaskSpecification(
        networkManager, mirrors, patch.remotePath, patchFile, static_cast<qint64>(patch.size), this, 0.6);
    // A mirror that lacks a patch may still serve the whole file.
    currentDownload->setAbsenceAllowed(true);
    if (spaceNeeded)
        currentDownload->setSpaceNeeded(spaceNeeded);
    connect(currentDownload, &TaskSpecification::finished, this,
        &DownloadFileTaskSpecification::onPatchDownloaded);
    addSubTask(currentDownload);

    auto* check = new CheckSignatureTaskSpecification(patchFile, patch.md5, false, this, 0.1);
    DownloadTaskSpecification* download = currentDownload;
    connect(download, &TaskSpecification::finished, check,
        [download, check] { check->useDigest(download->md5Hex()); });
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &DownloadFileTaskSpecification::onPatchCheckDone);
    addSubTask(check);

    auto* apply = new PatchApplyTaskSpecification(
        parameters.clientDir + QLatin1Char('/') + patch.basePath, patchFile, localPath(), patch, this, 0.3);
    connect(
        apply, &PatchApplyTaskSpecification::applied, this, &DownloadFileTaskSpecification::onPatchApplied);
    addSubTask(apply);

    setRunning();
    executeSubTasks();
}

void DownloadFileTaskSpecification::onPatchDownloaded(TaskSpecification* download)
{
    if (static_cast<DownloadTaskSpecification*>(download)->isAbsent())
        fallBackToWholeFile(
            QStringLiteral("The patch for %1 is not on the mirror, downloading the whole file")
                .arg(fileSpec.fileName));
}

void DownloadFileTaskSpecification::onPatchCheckDone(bool pass, CheckSignatureTaskSpecification*)
{
    if (pass)
        return;
    // The mirror served other bytes than the signed index lists. A patch
    // continued from an earlier run's part gets the benefit of the doubt.
    if (!currentDownload->wasResumed())
        mirrors->removeMirror(currentDownload->getMirror().name);
    fallBackToWholeFile(QStringLiteral(
        "md5 sum for the patch of %1 failed, invalidating mirror and downloading the whole file")
                            .arg(fileSpec.fileName));
}

void DownloadFileTaskSpecification::onPatchApplied(bool ok, const QString& why)
{
    // The patch is the one the signed index lists: no mirror is to blame.
    if (!ok)
        fallBackToWholeFile(QStringLiteral("The patch for %1 does not apply (%2), downloading the whole file")
                                .arg(fileSpec.fileName, why));
}

void DownloadFileTaskSpecification::fallBackToWholeFile(const QString& why)
{
    emit message(why);
    QFile::remove(FilePatchSpecification::patchFileOf(localPath()));
    if (cancelRequested() || stageFailed) {
        endWithoutRetry();
        return;
    }
    // The bytes of a patch that came stay counted; those of one that never
    // came are no longer expected.
    const quint64 transferred = currentDownload->isAbsent() ? 0 : currentDownload->timeTick().done;
    reset();
    patchGivenUp = true;
    patchBytes += transferred;
    emit plannedBytesGrew(transferred + fileSpec.size - fileSpec.patch->size);
    makeSubtasksAndStart();
}

void DownloadFileTaskSpecification::endWithoutRetry()
{
    // Fetching again would start a transfer after the stage has given up
    // (a retry resets the cancel request). The step that failed would end
    // this task as if all were well, so end it here, before that step's own
    // end, which reaches nobody once the steps are cleared.
    const bool byUser = cancelRequested();
    clearSubTasks();
    currentDownload = nullptr;
    QFile::remove(localPath());
    if (byUser)
        userCancel();
    else
        errorCancel();
}

quint64 DownloadFileTaskSpecification::diskBytes() const
{
    return fileSpec.patch && !patchGivenUp ? fileSpec.bytesOnDisk() : fileSpec.size;
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
        endWithoutRetry();
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
    kept = currentFigures();
    kept.active = false;
    figuresKept = true;
    clearSubTasks();
    currentDownload = nullptr;
    finish();
}

TransferFigures DownloadFileTaskSpecification::currentFigures()
{
    TransferFigures figures = ComposedTaskSpecification::timeTick();
    figures.done += patchBytes;
    figures.total += patchBytes;
    return figures;
}

TransferFigures DownloadFileTaskSpecification::timeTick()
{
    if (!figuresKept)
        return currentFigures();
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
