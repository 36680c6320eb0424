// Fetches one file of the release into the temporary directory and checks it
// by MD5; a copy that fails the check costs its mirror and is fetched again.
#pragma once

#include <functional>

#include "tasks/composedtaskspecification.h"
#include "update/filespecifications.h"
#include "update/updateparameters.h"

class CheckSignatureTaskSpecification;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

/// Two steps, one after the other: the HTTP download of section/fileName to
/// tempDir/fileName, then the MD5 check of the copy. When the check fails,
/// the mirror that delivered the copy is removed from the registry for the
/// rest of the session and the file starts over on another mirror, until a
/// copy passes or no mirror is left (then ErrorCanceled).
///
/// A file with a patch is fetched as the patch first: its download, its MD5
/// check and its application to the installed file on the thread pool, which
/// leaves the same copy at tempDir/fileName. Any failure of the patch (not on
/// the mirror, a bad copy, a result other than the product ini's) falls back
/// to the whole file, once; only a mirror that served a bad patch is dropped.
///
/// A copy that fails after the user cancelled, or after another file of the
/// stage failed, is not fetched again: the task then ends cancelled instead
/// of starting a transfer nobody waits for. GUI thread only.
class DownloadFileTaskSpecification final : public ComposedTaskSpecification {
    Q_OBJECT

public:
    DownloadFileTaskSpecification(const FileDownloadSpecification& fileSpec, QNetworkAccessManager* manager,
        Mirrors* mirrors, const UpdateParameters& parameters, QObject* parent, double parentProgressRange);

    void execute() override;
    void reset() override;
    /// Once the file is done its figures are those of its last transfer.
    TransferFigures timeTick() override;
    void handleOtherTaskCancelled(TaskSpecification* other) override;

    void makeSubtasksAndStart();
    /// Whether this file still has to be written to the temporary directory.
    bool needsSpace() const;
    /// What this file takes in the temporary directory at most.
    quint64 diskBytes() const;

    FileDownloadSpecification fileSpec;
    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    UpdateParameters parameters;
    DownloadTaskSpecification* currentDownload = nullptr;
    /// Passed to every download of the file: what the stage still needs on
    /// disk, for the message about a full disk.
    std::function<qint64()> spaceNeeded;

signals:
    /// The file is fetched whole after its patch failed: the stage is to
    /// transfer bytes more than it planned.
    void plannedBytesGrew(quint64 bytes);

private slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);
    void onPatchDownloaded(TaskSpecification* download);
    void onPatchCheckDone(bool pass, CheckSignatureTaskSpecification* check);
    void onPatchApplied(bool ok, const QString& why);

protected:
    void subtasksDone() override;

private:
    QString localPath() const;
    void makePatchSteps();
    // Ends the patch's attempt and fetches the whole file instead, unless the
    // stage is being cancelled.
    void fallBackToWholeFile(const QString& why);
    // Ends the task cancelled after a failed step instead of trying again.
    void endWithoutRetry();
    // The figures of the steps under way and of the patch given up.
    TransferFigures currentFigures();

    // The figures of a finished file, kept after its steps are released: a
    // release of 20,000 files would otherwise keep 40,000 of them alive for
    // the whole stage. Their speed is what arrived since the last tick.
    bool figuresKept = false;
    TransferFigures kept;

    // A resumed copy failed its check and the file was fetched again whole.
    bool fetchedWholeAfterResume = false;

    // Another file of the stage failed while this one was being checked.
    bool stageFailed = false;

    // The patch failed: the whole file is fetched, whatever the retries.
    bool patchGivenUp = false;
    // What the given-up patch transferred; it stays counted.
    quint64 patchBytes = 0;
};
