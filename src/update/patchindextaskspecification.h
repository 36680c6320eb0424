// Fetches the patch index of the release and its signature beside the
// product ini and verifies them; a release without patches, or an index that
// cannot be had or trusted, only means whole files are downloaded.
#pragma once

#include "tasks/composedtaskspecification.h"
#include "update/updateparameters.h"

class CheckSignatureTaskSpecification;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

/// Download of the index, of its signature (the .sig256 where the mirror has
/// one, else the .sig, as for the product ini), then the signature check, one
/// after the other. A mirror's 404 for either file ends the task: a release
/// published without patches has none. An index whose signature fails is
/// removed with a log line. Either way the task finishes, and only a verified
/// index is left at parameters.patchIndexPath(); nothing here fails the
/// update, a cancel by the user excepted. Both always come fresh, as the
/// product ini's signature does: a pair that an interrupted run left may
/// belong to a release since published again under the same version. GUI
/// thread only; the manager and registry are not owned.
class PatchIndexTaskSpecification final : public ComposedTaskSpecification {
    Q_OBJECT
    Q_DISABLE_COPY(PatchIndexTaskSpecification)

public:
    PatchIndexTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        const UpdateParameters& parameters, QObject* parent, double parentProgressRange);

    void execute() override;
    void reset() override;
    /// An index fetched and then ignored still counts as transferred.
    TransferFigures timeTick() override;

    void makeSubtasksAndStart();

    /// Nobody announces the size of the index: a bound as for the product
    /// ini, whose entries it follows.
    static constexpr qint64 maxIndexBytes = 64 * 1024 * 1024;

protected:
    void subtasksDone() override;

private slots:
    void onIndexFetched();
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);

private:
    // Removes the index and its signature and ends the task as finished.
    void doWithout(const QString& why);
    void removeFiles() const;

    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    UpdateParameters parameters;
    DownloadTaskSpecification* indexDownload = nullptr;
    // The figures of the downloads dropped with an ignored index.
    TransferFigures kept;
};
