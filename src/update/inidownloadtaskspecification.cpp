// Fetching and verifying the product ini.
#include "inidownloadtaskspecification.h"

#include <QFileInfo>

#include "crypto/checksignaturetaskspecification.h"
#include "net/downloadtaskspecification.h"
#include "release/releasenames.h"
#include "update/patchindextaskspecification.h"

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
    const QString sigSuffix = QStringLiteral(".sig");
    double checkWeight = 1.0;

    // After a failed check a present copy is exactly what failed, so only
    // the first attempt may reuse what an earlier run left behind.
    const auto addDownload = [&](const QString& remote, const QString& path, qint64 maxBytes) {
        auto* download =
            new DownloadTaskSpecification(networkManager, mirrors, remote, path, -1, this, downloadWeight);
        download->setSizeLimit(maxBytes);
        addSubTask(download);
        checkWeight -= downloadWeight;
    };
    if (retryCount > 0 || !QFileInfo::exists(local))
        addDownload(name, local, maxProductIniBytes);
    if (retryCount > 0 || !QFileInfo::exists(local + sigSuffix))
        addDownload(name + sigSuffix, local + sigSuffix, maxSignatureBytes);
    auto* check = new CheckSignatureTaskSpecification(local, QString(), false, this, checkWeight);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &IniDownloadTaskSpecification::onSigCheckDone);
    addSubTask(check);
    // Once the product ini is trusted, the patches of the release, if it has
    // any. Small beside the product ini, and never a reason to fail.
    addSubTask(
        new PatchIndexTaskSpecification(networkManager, mirrors, parameters, retryCount <= 0, this, 0.0));

    setRunning();
    executeSubTasks();
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification* /*check*/)
{
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
