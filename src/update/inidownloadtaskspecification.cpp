// Fetching and verifying the product ini.
#include "inidownloadtaskspecification.h"

#include <QFileInfo>

#include "crypto/checksignaturetaskspecification.h"
#include "net/downloadtaskspecification.h"
#include "release/releasenames.h"
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
    const bool reuse = retryCount == 0;
    if (!reuse || !QFileInfo::exists(local)) {
        auto* download =
            new DownloadTaskSpecification(networkManager, mirrors, name, local, -1, this, downloadWeight);
        download->setSizeLimit(maxProductIniBytes);
        addSubTask(download);
        checkWeight -= downloadWeight;
    }
    addSubTask(new SignatureDownloadTaskSpecification(
        networkManager, mirrors, name, local, reuse, this, downloadWeight));
    auto* check = new CheckSignatureTaskSpecification(local, QString(), false, this, checkWeight);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &IniDownloadTaskSpecification::onSigCheckDone);
    addSubTask(check);

    setRunning();
    executeSubTasks();
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check)
{
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
    if (retryCount > maxRetries) {
        emit message(QStringLiteral("Could not verify the product ini file. Aborting"));
        // The check finishes right after this returns; detached, its finish
        // cannot end this stage a second time, as a success.
        clearSubTasks();
        errorCancel();
        return;
    }
    emit message(QStringLiteral("Could not verify the product ini file. Retrying"));
    // Start over in place; the check that called us is disconnected by the
    // reset, so its own finish reaches nobody.
    const int retries = retryCount;
    reset();
    retryCount = retries;
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::reset()
{
    clearSubTasks();
    retryCount = 0;
    TaskSpecification::reset();
}
