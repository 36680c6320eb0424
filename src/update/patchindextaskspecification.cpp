// Fetching and verifying the patch index.
#include "patchindextaskspecification.h"

#include <QFile>

#include "crypto/checksignaturetaskspecification.h"
#include "net/downloadtaskspecification.h"
#include "release/releasenames.h"
#include "update/signaturedownloadtaskspecification.h"

namespace {

constexpr double downloadWeight = 0.3333;

} // namespace

PatchIndexTaskSpecification::PatchIndexTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
    const UpdateParameters& parameters, QObject* parent, double parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent)
    , networkManager(manager)
    , mirrors(mirrors)
    , parameters(parameters)
{
}

void PatchIndexTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void PatchIndexTaskSpecification::makeSubtasksAndStart()
{
    const QString name = ReleaseNames::patchIndexName(parameters.clientType);
    const QString local = parameters.patchIndexPath();
    removeFiles();
    indexDownload =
        new DownloadTaskSpecification(networkManager, mirrors, name, local, -1, this, downloadWeight);
    indexDownload->setSizeLimit(maxIndexBytes);
    indexDownload->setAbsenceAllowed(true);
    // Before the composite's own handler, which would start the next step.
    connect(indexDownload, &TaskSpecification::finished, this, &PatchIndexTaskSpecification::onIndexFetched);
    addSubTask(indexDownload);
    // The same signatures as the product ini's, fetched the same way: the
    // .sig256 where the mirror has one, else the .sig.
    auto* signature =
        new SignatureDownloadTaskSpecification(networkManager, mirrors, name, local, this, downloadWeight);
    signature->setAbsenceAllowed(true);
    connect(signature, &TaskSpecification::finished, this, [this, signature] {
        if (signature->isAbsent())
            doWithout(QStringLiteral(
                "Ignoring the patch index: it has no signature; changed files are downloaded whole"));
    });
    addSubTask(signature);
    auto* check =
        new CheckSignatureTaskSpecification(local, QString(), false, this, 1.0 - 2 * downloadWeight);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &PatchIndexTaskSpecification::onSigCheckDone);
    addSubTask(check);
    setRunning();
    executeSubTasks();
}

void PatchIndexTaskSpecification::onIndexFetched()
{
    if (indexDownload->isAbsent())
        doWithout(QStringLiteral("The release has no patch index; changed files are downloaded whole"));
}

void PatchIndexTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification*)
{
    if (pass)
        return;
    doWithout(QStringLiteral(
        "Ignoring the patch index: its signature does not verify; changed files are downloaded whole"));
}

void PatchIndexTaskSpecification::subtasksDone()
{
    const TaskState outcome = getStateFromSubTasks();
    if (outcome == UserCanceled) {
        userCancel();
        return;
    }
    // A download that failed for good (no mirror left, a full disk) has
    // said why; the update goes on, and meets the cause again if it lasts.
    if (outcome != Finished) {
        doWithout(QStringLiteral("The patch index could not be fetched; changed files are downloaded whole"));
        return;
    }
    finish();
}

void PatchIndexTaskSpecification::doWithout(const QString& why)
{
    // The step that called us is disconnected here, so its own end reaches
    // nobody; what is left to run is dropped.
    kept = ComposedTaskSpecification::timeTick();
    kept.active = false;
    clearSubTasks();
    removeFiles();
    emit message(why);
    finish();
}

void PatchIndexTaskSpecification::removeFiles() const
{
    const QString local = parameters.patchIndexPath();
    QFile::remove(local);
    QFile::remove(local + QStringLiteral(".sig"));
    QFile::remove(local + QStringLiteral(".sig256"));
}

TransferFigures PatchIndexTaskSpecification::timeTick()
{
    TransferFigures figures = ComposedTaskSpecification::timeTick();
    figures += kept;
    kept.speed = 0;
    return figures;
}

void PatchIndexTaskSpecification::reset()
{
    clearSubTasks();
    kept = TransferFigures();
    TaskSpecification::reset();
}
