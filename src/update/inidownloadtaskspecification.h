// The first stage of an update: fetches the product ini and its signature
// into the temporary directory and verifies them, fetching both again while
// the signature fails.
#pragma once

#include "tasks/composedtaskspecification.h"
#include "update/updateparameters.h"

class CheckSignatureTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

/// On the first attempt a product ini or signature already in the temporary
/// directory (left by an interrupted run) is reused; after a failed check
/// both are downloaded again, up to 1000 retries per run. On finished the
/// verified product ini lies at parameters.productIniPath(), and the release's
/// patch index, if it has a trustworthy one, at parameters.patchIndexPath()
/// (see PatchIndexTaskSpecification). GUI thread only; the manager and
/// registry are not owned.
class IniDownloadTaskSpecification final : public ComposedTaskSpecification {
    Q_OBJECT
    Q_DISABLE_COPY(IniDownloadTaskSpecification)

public:
    IniDownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        const UpdateParameters& parameters, QObject* parent, double parentProgressRange);

    void execute() override;
    void reset() override;

    void makeSubtasksAndStart();

    /// Failed verifications after which the stage gives up.
    static constexpr int maxRetries = 1000;
    /// Nobody announces the size of these two files, so a mirror could send
    /// them without end. A product ini of a few hundred thousand entries stays
    /// below the one bound, the signature of the largest key a key file can
    /// hold far below the other; more is treated like any oversized file.
    static constexpr qint64 maxProductIniBytes = 64 * 1024 * 1024;
    static constexpr qint64 maxSignatureBytes = 64 * 1024;

private slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);

private:
    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    UpdateParameters parameters;
    int retryCount = 0;
};
