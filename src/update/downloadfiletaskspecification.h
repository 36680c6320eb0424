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

    FileDownloadSpecification fileSpec;
    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    UpdateParameters parameters;
    DownloadTaskSpecification* currentDownload = nullptr;
    /// Passed to every download of the file: what the stage still needs on
    /// disk, for the message about a full disk.
    std::function<qint64()> spaceNeeded;

private slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);

protected:
    void subtasksDone() override;

private:
    QString localPath() const;

    // The figures of a finished file, kept after its steps are released: a
    // release of 20,000 files would otherwise keep 40,000 of them alive for
    // the whole stage. Their speed is what arrived since the last tick.
    bool figuresKept = false;
    TransferFigures kept;

    // A resumed copy failed its check and the file was fetched again whole.
    bool fetchedWholeAfterResume = false;

    // Another file of the stage failed while this one was being checked.
    bool stageFailed = false;
};
