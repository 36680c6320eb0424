// Fetching the signature of a signed file.
#include "signaturedownloadtaskspecification.h"

#include <utility>

#include <QFile>

#include "net/downloadtaskspecification.h"

namespace {

const QString strongSuffix = QStringLiteral(".sig256");
const QString weakSuffix = QStringLiteral(".sig");

} // namespace

SignatureDownloadTaskSpecification::SignatureDownloadTaskSpecification(QNetworkAccessManager* manager,
    Mirrors* mirrors, QString remotePath, QString localPath, QObject* parent, double parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent)
    , networkManager(manager)
    , mirrors(mirrors)
    , remotePath(std::move(remotePath))
    , localPath(std::move(localPath))
{
}

void SignatureDownloadTaskSpecification::execute()
{
    QFile::remove(localPath + strongSuffix);
    DownloadTaskSpecification* strong = addDownload(strongSuffix, 0.5);
    strong->setAbsenceAllowed(true);
    fetched = strong;
    // The next download is added before the composite looks for one: it
    // starts the next subtask only from the event loop.
    connect(strong, &TaskSpecification::finished, this, [this, strong] { onStrongSignatureDone(strong); });
    executeSubTasks();
}

void SignatureDownloadTaskSpecification::onStrongSignatureDone(DownloadTaskSpecification* download)
{
    if (!download->isAbsent())
        return;
    fetched = addDownload(weakSuffix, 0.5);
    fetched->setAbsenceAllowed(absenceAllowed);
}

bool SignatureDownloadTaskSpecification::isAbsent() const
{
    return fetched && fetched->isAbsent();
}

QByteArray SignatureDownloadTaskSpecification::md5Hex() const
{
    return fetched ? fetched->md5Hex() : QByteArray();
}

DownloadTaskSpecification* SignatureDownloadTaskSpecification::addDownload(
    const QString& suffix, double weight)
{
    auto* download = new DownloadTaskSpecification(
        networkManager, mirrors, remotePath + suffix, localPath + suffix, -1, this, weight);
    download->setSizeLimit(maxSignatureBytes);
    addSubTask(download);
    return download;
}

void SignatureDownloadTaskSpecification::reset()
{
    clearSubTasks();
    fetched = nullptr;
    TaskSpecification::reset();
}
