// Fetching and verifying the product ini.
#include "inidownloadtaskspecification.h"

#include <QFileInfo>
#include <QTimerEvent>

#include "crypto/checksignaturetaskspecification.h"
#include "net/downloadtaskspecification.h"
#include "release/releasenames.h"
#include "update/patchindextaskspecification.h"
#include "update/signaturedownloadtaskspecification.h"

namespace {

constexpr double downloadWeight = 0.3333;

} // namespace

IniDownloadTaskSpecification::IniDownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
    const UpdateParameters& parameters, QObject* parent, double parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent)
    , networkManager(manager)
    , mirrors(mirrors)
    , parameters(parameters)
{
}

void IniDownloadTaskSpecification::execute()
{
    emit message(QStringLiteral("Download / check product ini"));
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::makeSubtasksAndStart()
{
    const QString name = ReleaseNames::productIniName(parameters.clientType);
    const QString local = parameters.productIniPath();
    double checkWeight = 1.0 - downloadWeight;

    // After a failed check a present copy is exactly what failed, so only
    // the first attempt may reuse what an earlier run left behind.
    const bool reuseIni = retryCount == 0 && QFileInfo::exists(local);
    iniDownload = nullptr;
    if (!reuseIni) {
        iniDownload =
            new DownloadTaskSpecification(networkManager, mirrors, name, local, -1, this, downloadWeight);
        iniDownload->setSizeLimit(maxProductIniBytes);
        addSubTask(iniDownload);
        checkWeight -= downloadWeight;
    }
    // The signature is fetched every time: a few hundred bytes that say
    // whether the kept product ini is still the mirror's. A release published
    // again under the same version (after a failed run, say) comes with a
    // new one, and the kept copy must not keep the installation on the old.
    sigDownload =
        new SignatureDownloadTaskSpecification(networkManager, mirrors, name, local, this, downloadWeight);
    addSubTask(sigDownload);
    auto* check = new CheckSignatureTaskSpecification(local, QString(), false, this, checkWeight);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &IniDownloadTaskSpecification::onSigCheckDone);
    addSubTask(check);
    // Once the product ini is trusted, the patches of the release, if it has
    // any. Small beside the product ini, and never a reason to fail.
    addSubTask(new PatchIndexTaskSpecification(networkManager, mirrors, parameters, this, 0.0));

    setRunning();
    executeSubTasks();
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check)
{
    const bool signatureFailed = !pass;
    // A signed product ini names neither its version nor its client type: a
    // mirror could serve any release's under this one's name. The release
    // statement's digest binds it to what the publisher named.
    if (pass && !parameters.productIniSha256.isEmpty()
        && check->verifiedSha256() != parameters.productIniSha256) {
        emit message(
            QStringLiteral("The product ini of version %1 is not the one its release statement names")
                .arg(parameters.clientVersion));
        pass = false;
    }
    if (pass)
        return;
    ++retryCount;
    if (!iniDownload) {
        // Not a fault of the mirror's: the release has changed since the
        // copy was kept. Both come fresh, without a pause.
        if (signatureFailed)
            emit message(QStringLiteral("The product ini kept from an earlier run does not match the "
                                        "mirror's signature; fetching it again"));
        retry(0);
        return;
    }
    // Both were downloaded, so both digests were taken as the bytes came.
    const QByteArray pair = iniDownload->md5Hex() + ':' + sigDownload->md5Hex();
    if (failedPairs.contains(pair)) {
        giveUp(
            QStringLiteral("Could not verify the product ini file: the mirrors send the same product ini and "
                           "signature that failed before. Aborting"));
        return;
    }
    failedPairs.insert(pair);
    if (retryCount > maxRetries) {
        giveUp(QStringLiteral("Could not verify the product ini file. Aborting"));
        return;
    }
    emit message(QStringLiteral("Could not verify the product ini file. Retrying"));
    retry(retryPauseMs(int(failedPairs.size()), firstPauseMs, longestPauseMs));
}

void IniDownloadTaskSpecification::giveUp(const QString& why)
{
    emit message(why);
    // The check finishes right after this returns; detached, its finish
    // cannot end this stage a second time, as a success.
    clearSubTasks();
    iniDownload = nullptr;
    sigDownload = nullptr;
    errorCancel();
}

void IniDownloadTaskSpecification::retry(int pauseMs)
{
    // The check that called us is disconnected here, so its own finish
    // reaches nobody.
    clearSubTasks();
    iniDownload = nullptr;
    sigDownload = nullptr;
    // A mirror that keeps sending a bad pair is not asked again at once:
    // without a pause a run fetched the product ini a thousand times in a
    // row, gigabytes for nothing.
    if (pauseMs > 0)
        pause.start(pauseMs, this);
    else
        startNextAttempt();
}

void IniDownloadTaskSpecification::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != pause.timerId()) {
        ComposedTaskSpecification::timerEvent(event);
        return;
    }
    pause.stop();
    startNextAttempt();
}

void IniDownloadTaskSpecification::startNextAttempt()
{
    // Start over in place, keeping what this run has learnt.
    const int retries = retryCount;
    const QSet<QByteArray> failed = failedPairs;
    reset();
    retryCount = retries;
    failedPairs = failed;
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::userCanceled()
{
    ComposedTaskSpecification::userCanceled();
    // Between two attempts no subtask runs that could end us.
    if (pause.isActive() && state() == Running) {
        pause.stop();
        userCancel();
    }
}

int IniDownloadTaskSpecification::retryPauseMs(int failedPairs, int firstMs, int longestMs)
{
    qint64 pauseMs = firstMs;
    for (int i = 1; i < failedPairs && pauseMs < longestMs; ++i)
        pauseMs *= 2;
    return int(qMin<qint64>(pauseMs, longestMs));
}

void IniDownloadTaskSpecification::setRetryPauses(int firstMs, int longestMs)
{
    firstPauseMs = firstMs;
    longestPauseMs = longestMs;
}

void IniDownloadTaskSpecification::reset()
{
    pause.stop();
    clearSubTasks();
    iniDownload = nullptr;
    sigDownload = nullptr;
    retryCount = 0;
    failedPairs.clear();
    TaskSpecification::reset();
}
