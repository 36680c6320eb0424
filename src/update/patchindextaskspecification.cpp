// Fetching and verifying the patch index.
#include "patchindextaskspecification.h"

#include <QFile>

#include "crypto/checksignaturetaskspecification.h"
#include "net/downloadtaskspecification.h"
#include "release/releasenames.h"

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
    const QString sigSuffix = QStringLiteral(".sig");
    double checkWeight = 1.0;
    indexDownload = nullptr;
    removeFiles();
    for (const auto& [remote, path, maxBytes] : {std::tuple {name, local, maxIndexBytes},
             std::tuple {name + sigSuffix, local + sigSuffix, maxSignatureBytes}}) {
        auto* download =
            new DownloadTaskSpecification(networkManager, mirrors, remote, path, -1, this, downloadWeight);
        download->setSizeLimit(maxBytes);
        download->setMissingAllowed(true);
        // Before the composite's own handler, which would start the next step.
        connect(
            download, &TaskSpecification::finished, this, &PatchIndexTaskSpecification::onDownloadFinished);
        addSubTask(download);
        checkWeight -= downloadWeight;
        if (!indexDownload)
            indexDownload = download;
    }
    auto* check = new CheckSignatureTaskSpecification(local, QString(), false, this, checkWeight);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &PatchIndexTaskSpecification::onSigCheckDone);
    addSubTask(check);
    setRunning();
    executeSubTasks();
}

void PatchIndexTaskSpecification::onDownloadFinished(TaskSpecification* download)
{
    if (!static_cast<DownloadTaskSpecification*>(download)->isMissing())
        return;
    doWithout(download == indexDownload
            ? QStringLiteral("The release has no patch index; changed files are downloaded whole")
            : QStringLiteral(
                "Ignoring the patch index: it has no signature; changed files are downloaded whole"));
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
