// The first stage of an update: fetches the product ini and its signature
// into the temporary directory and verifies them, fetching both again while
// the signature fails.
#pragma once

#include <QBasicTimer>
#include <QByteArray>
#include <QSet>

#include "tasks/composedtaskspecification.h"
#include "update/updateparameters.h"

class CheckSignatureTaskSpecification;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;
class SignatureDownloadTaskSpecification;

/// The signature is always fetched: the mirror's ".sig256" where it has one,
/// its ".sig" otherwise. On the first attempt a product ini
/// already in the temporary directory (left by an interrupted run) is
/// checked against it, so a release published again under the same version
/// replaces the kept one. After a failed check both are downloaded again,
/// after a pause that grows with every failure, up to 1000 retries per run;
/// once a retry brings the very bytes of a pair that failed before, the
/// stage gives up, as nothing will change. On finished the verified product
/// ini lies at parameters.productIniPath(), and the release's patch index,
/// if it has a trustworthy one, at parameters.patchIndexPath() (see
/// PatchIndexTaskSpecification). GUI thread only; the manager and
/// registry are not owned.
class IniDownloadTaskSpecification final : public ComposedTaskSpecification {
    Q_OBJECT
    Q_DISABLE_COPY(IniDownloadTaskSpecification)

public:
    IniDownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        const UpdateParameters& parameters, QObject* parent, double parentProgressRange);

    void execute() override;
    void reset() override;
    /// Also ends a pause between two attempts, in UserCanceled.
    void userCanceled() override;

    void makeSubtasksAndStart();

    /// Failed verifications after which the stage gives up.
    static constexpr int maxRetries = 1000;
    /// The pause after the first failed pair of downloads; it doubles with
    /// every further one, up to the longest pause.
    static constexpr int firstRetryPauseMs = 1000;
    static constexpr int longestRetryPauseMs = 30000;
    /// The pause after failedPairs failed pairs of downloads (1 or more).
    static int retryPauseMs(
        int failedPairs, int firstMs = firstRetryPauseMs, int longestMs = longestRetryPauseMs);
    /// Replaces the two pauses above, for tests that retry many times.
    void setRetryPauses(int firstMs, int longestMs);
    /// Nobody announces the size of the product ini, so a mirror could send
    /// it without end. One of a few hundred thousand entries stays below this
    /// bound; more is treated like any oversized file. (The signatures have a
    /// bound of their own.)
    static constexpr qint64 maxProductIniBytes = 64 * 1024 * 1024;

protected:
    void timerEvent(QTimerEvent* event) override;

private slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);

private:
    // Detaches the subtasks of the attempt that failed and starts the next
    // one, at once or after a pause.
    void retry(int pauseMs);
    void startNextAttempt();
    void giveUp(const QString& why);

    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    UpdateParameters parameters;
    int retryCount = 0;
    // This attempt's downloads; no product ini download when a kept one is checked.
    DownloadTaskSpecification* iniDownload = nullptr;
    SignatureDownloadTaskSpecification* sigDownload = nullptr;
    // The digests of the downloaded pairs (product ini and signature) that
    // failed their check during this run.
    QSet<QByteArray> failedPairs;
    QBasicTimer pause;
    int firstPauseMs = firstRetryPauseMs;
    int longestPauseMs = longestRetryPauseMs;
};
