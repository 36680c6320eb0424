// The task that fetches one file from the mirrors into a local file.
#include "downloadtaskspecification.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include <fcntl.h>

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThreadPool>
#include <QUrl>

#include "base/writefailure.h"
#include "net/partialdownload.h"
#include "tasks/asynctaskspecification.h"

namespace {

// The body goes to disk in pieces of at most this size, never whole.
constexpr qint64 chunkSize = 64 * 1024;
// The part of a copy read back at a time to take up its digest when resuming.
constexpr qint64 prefixBlockSize = 256 * 1024;
constexpr qint64 readBufferSize = 1024 * 1024;

// Digests whole blocks of a file from its current position to its end; the
// number of bytes read, or -1 if a read failed.
qint64 digestRest(QFile& file, QCryptographicHash& hash)
{
    QByteArray block(prefixBlockSize, Qt::Uninitialized);
    qint64 done = 0;
    for (qint64 got; (got = file.read(block.data(), block.size())) != 0; done += got) {
        if (got < 0)
            return -1;
        hash.addData(QByteArrayView(block.constData(), got));
    }
    return done;
}

} // namespace

// The digest of a copy that a stopped run left, read back on the thread pool.
struct ResumePrefix {
    std::unique_ptr<QCryptographicHash> hash = std::make_unique<QCryptographicHash>(QCryptographicHash::Md5);
    // How many bytes the digest covers, or -1 if the copy could not be read.
    qint64 length = -1;
};

namespace {

class PrefixDigestFunc final : public ASyncFunc {
public:
    PrefixDigestFunc(const QString& path, std::shared_ptr<ResumePrefix> prefix)
        : path(path)
        , prefix(std::move(prefix))
    {
    }

    bool run() override
    {
        QFile copy(path);
        if (copy.open(QIODevice::ReadOnly))
            prefix->length = digestRest(copy, *prefix->hash);
        return prefix->length > 0;
    }

private:
    QString path;
    std::shared_ptr<ResumePrefix> prefix;
};

} // namespace

DownloadTaskSpecification::DownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
    const QString& remotePath, const QString& localPath, qint64 expectedSize, QObject* parent,
    double parentProgressRange)
    : TaskSpecification(parent, parentProgressRange)
    , networkManager(manager)
    , mirrors(mirrors)
    , remotePath(remotePath)
    , file(localPath)
    , expectedSize(expectedSize)
    , initialExpectedSize(expectedSize)
    , digest(std::make_unique<QCryptographicHash>(QCryptographicHash::Md5))
{
}

DownloadTaskSpecification::~DownloadTaskSpecification()
{
    if (reply) {
        disconnect(reply, nullptr, this, nullptr);
        reply->deleteLater();
    }
}

void DownloadTaskSpecification::execute()
{
    emit message(QStringLiteral("Downloading %1").arg(remotePath));
    absent = false;
    setRunning();
    if (resumableValidator().isEmpty())
        startDownload();
    else
        digestPrefixFirst();
}

void DownloadTaskSpecification::digestPrefixFirst()
{
    const auto prefix = std::make_shared<ResumePrefix>();
    pendingPrefix = prefix;
    auto* func = new PrefixDigestFunc(file.fileName(), prefix);
    // Tied to this task: a result for a task that is gone reaches nobody.
    connect(
        func, &ASyncFunc::runResult, this, [this, prefix](bool) { onPrefixDigested(prefix); },
        Qt::QueuedConnection);
    QThreadPool::globalInstance()->start(new ASyncRun(func));
}

void DownloadTaskSpecification::onPrefixDigested(const std::shared_ptr<ResumePrefix>& prefix)
{
    // A digest that was under way when the task was cancelled or reset
    // belongs to a copy that is gone.
    if (prefix != pendingPrefix || state() != Running)
        return;
    readyPrefix = std::move(pendingPrefix);
    startDownload();
}

void DownloadTaskSpecification::reset()
{
    resetDownload();
    absent = false;
    TaskSpecification::reset();
}

void DownloadTaskSpecification::startDownload()
{
    const int selection = mirrors->getRandomMirror(mirror);
    if (selection == Mirrors::NoMirrorLeft) {
        errorCancel(); // the registry has told the user already
        return;
    }
    if (selection == Mirrors::AllSlotsTaken) {
        waitForFreeSlot();
        return;
    }
    holdingSlot = true;

    // A copy that an earlier run left half done is continued where it ends,
    // if the mirror's answer that started it can be named again.
    const QByteArray validator = resumableValidator();
    errno = 0;
    const bool opened = validator.isEmpty() ? file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                                            : file.open(QIODevice::ReadWrite);
    if (!opened) {
        const int cause = errno;
        emit message(QStringLiteral("Unable to create file %1 for saving").arg(file.fileName()));
        stopOnWriteFailure(cause);
        return;
    }
    digest->reset();
    resumeOffset = validator.isEmpty() ? 0 : takeUpPrefix();
    bytesReceived = bytesAtLastTick = resumeOffset;

    QNetworkRequest request {requestUrl()};
    // The digest we check is that of the file as it lies on the mirror. Left
    // to itself the network layer asks for compression and undoes any
    // Content-Encoding, and a server that labels .gz files "gzip" would then
    // hand us the unpacked content.
    request.setRawHeader("Accept-Encoding", "identity");
    // Any answer but 200 marks the mirror as unusable, redirects included.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (resumeOffset > 0) {
        // If-Range: a mirror whose file has changed since sends all of it
        // (200) instead of a rest that would not fit the copy.
        request.setRawHeader("Range", "bytes=" + QByteArray::number(resumeOffset) + '-');
        request.setRawHeader("If-Range", validator);
    }
    reply = networkManager->get(request);
    if (!reply) {
        emit error(QStringLiteral("Download failed to initialize"));
        file.close();
        file.remove();
        releaseSlot();
        errorCancel();
        return;
    }
    // Without a bound the network thread buffers whatever the socket
    // delivers faster than we write it: most of a large file ended up in
    // memory. A full buffer makes the transfer wait for us instead.
    reply->setReadBufferSize(readBufferSize);
    if (reply->isFinished()) {
        errorRetry(reply->errorString());
        return;
    }
    connect(reply, &QNetworkReply::downloadProgress, this, &DownloadTaskSpecification::onDownloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, &DownloadTaskSpecification::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &DownloadTaskSpecification::onDownloadFinished);
    connect(reply, &QNetworkReply::metaDataChanged, this, &DownloadTaskSpecification::onMetaDataChanged);
}

void DownloadTaskSpecification::waitForFreeSlot()
{
    // Queued, so that the finishing transfer has given its slot back before
    // this task asks again.
    stopWaitingForSlot();
    connect(networkManager, &QNetworkAccessManager::finished, this,
        &DownloadTaskSpecification::onOtherDownloadFinished, Qt::QueuedConnection);
}

void DownloadTaskSpecification::stopWaitingForSlot()
{
    disconnect(networkManager, nullptr, this, nullptr);
}

void DownloadTaskSpecification::onOtherDownloadFinished(QNetworkReply*)
{
    stopWaitingForSlot();
    // A task cancelled while it waited stays cancelled, even if a notice was
    // already queued.
    if (state() == Running && !reply)
        startDownload();
}

void DownloadTaskSpecification::onDownloadProgress(qint64, qint64 bytesTotal)
{
    if (bytesTotal > 0 && expectedSize == -1)
        expectedSize = bytesTotal;
}

void DownloadTaskSpecification::onMetaDataChanged()
{
    if (!reply)
        return;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    const int code = status.toInt();
    if (code == 200) {
        // The whole file follows: the range was ignored, or the file has
        // changed since the copy was begun.
        if (resumeOffset > 0)
            restartFromZero();
        if (initialExpectedSize >= PartialDownload::minResumableBytes)
            PartialDownload::saveValidator(file.fileName(), *reply);
        return;
    }
    if (code == 206 && resumeOffset > 0) {
        if (PartialDownload::continuesAt(
                reply->rawHeader("Content-Range"), resumeOffset, initialExpectedSize))
            return;
        // A rest that does not start where the copy ends, or belongs to a
        // file of another size, would corrupt the copy.
        errorRetry(QStringLiteral("%1 answered the request for bytes from %2 with the range %3")
                       .arg(fileUrl())
                       .arg(resumeOffset)
                       .arg(QString::fromLatin1(reply->rawHeader("Content-Range"))));
        return;
    }
    if (code == 407) {
        stopOnProxyRefusal();
        return;
    }
    if (code == 416 && resumeOffset > 0) {
        // The copy cannot be continued there; no fault of the mirror's.
        resetDownload();
        emit message(QStringLiteral("%1 cannot continue a copy at byte %2, fetching it from the start")
                         .arg(fileUrl())
                         .arg(resumeOffset));
        startDownload();
        return;
    }
    if (code == 404 && absenceAllowed) {
        emit message(QStringLiteral("%1 is not on mirror %2").arg(remotePath, mirror.name));
        resetDownload();
        absent = true;
        finish();
        return;
    }
    mirrors->removeMirror(mirror.name);
    errorRetry(QStringLiteral("%1 returned %2").arg(fileUrl()).arg(code));
}

void DownloadTaskSpecification::onReadyRead()
{
    readData();
}

bool DownloadTaskSpecification::readData()
{
    while (reply) {
        stallTicks = 0;
        const qint64 available = reply->bytesAvailable();
        if (available <= 0)
            return true;
        char buffer[chunkSize];
        const qint64 got = reply->read(buffer, std::min(available, chunkSize));
        if (got < 0) {
            errorRetry(reply->errorString());
            return false;
        }
        if (got == 0)
            return true;
        // A mirror that sends more than the file's known size, or more than
        // any file of its kind can have, is broken or hostile; without this
        // bound it could fill the disk.
        const qint64 limit = maxSize();
        if (limit >= 0 && bytesReceived + got > limit) {
            const QString bound = initialExpectedSize >= 0 ? QStringLiteral("the expected %1 bytes")
                                                           : QStringLiteral("the limit of %1 bytes");
            errorRetry(QStringLiteral("File %1 from mirror %2 is larger than %3, discarding it")
                           .arg(remotePath, mirror.name, bound.arg(limit)));
            return false;
        }
        errno = 0;
        const qint64 written = file.write(buffer, got);
        if (written < got) {
            const int cause = errno;
            if (written >= 0) {
                emit message(
                    QStringLiteral("Error writing to file %1. Should write %2 bytes but wrote %3 bytes")
                        .arg(file.fileName())
                        .arg(got)
                        .arg(written));
            }
            stopOnWriteFailure(cause);
            return false;
        }
        digest->addData(QByteArrayView(buffer, got));
        bytesReceived += got;
        if (expectedSize >= 1)
            setProgress(std::min(1.0, double(bytesReceived) / double(expectedSize)));
    }
    return true;
}

qint64 DownloadTaskSpecification::maxSize() const
{
    return initialExpectedSize >= 0 ? initialExpectedSize : sizeLimit;
}

void DownloadTaskSpecification::onDownloadFinished()
{
    if (!reply)
        return;
    if (reply->error() != QNetworkReply::NoError) {
        if (reply->error() == QNetworkReply::ProxyAuthenticationRequiredError) {
            stopOnProxyRefusal();
            return;
        }
        if (reply->error() == QNetworkReply::AuthenticationRequiredError) {
            mirrors->removeMirror(mirror.name);
            reply->close();
        }
        errorRetry(reply->errorString());
        return;
    }
    if (!readData())
        return;

    // The network stack may report a connection that closed mid-body as a
    // clean end; the announced length tells the truth.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && !reply->hasRawHeader("Content-Encoding")
        && bytesReceived - resumeOffset < announced.toLongLong()) {
        errorRetry(QStringLiteral("Transfer of %1 from mirror %2 ended after %3 of %4 bytes")
                       .arg(remotePath, mirror.name)
                       .arg(bytesReceived - resumeOffset)
                       .arg(announced.toLongLong()));
        return;
    }
    // The file is buffered: a full disk may only show when the rest is written.
    errno = 0;
    if (!file.flush()) {
        stopOnWriteFailure(errno);
        return;
    }
    // The installation makes every file durable in one flush; writing this
    // one back starts now, while the other downloads run, instead of then.
    ::sync_file_range(file.handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
    reply->close();
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
    reply = nullptr;
    file.close();
    PartialDownload::forget(file.fileName());
    receivedMd5 = digest->result().toHex();
    resumed = resumeOffset > 0;
    downloadFinished();
}

QByteArray DownloadTaskSpecification::resumableValidator() const
{
    if (initialExpectedSize < PartialDownload::minResumableBytes)
        return {};
    const qint64 size = QFileInfo(file.fileName()).size();
    if (size <= 0 || size >= initialExpectedSize)
        return {};
    return PartialDownload::loadValidator(file.fileName());
}

qint64 DownloadTaskSpecification::takeUpPrefix()
{
    // The digest covers the whole file, so the bytes already there are read
    // once more; far less than fetching them again. Normally that happened
    // on the thread pool; a copy that has changed size since is read here.
    const std::shared_ptr<ResumePrefix> prefix = std::exchange(readyPrefix, nullptr);
    if (prefix && prefix->length > 0 && prefix->length == file.size() && file.seek(prefix->length)) {
        digest = std::move(prefix->hash);
        return prefix->length;
    }
    const qint64 done = digestRest(file, *digest);
    if (done > 0 && file.pos() == done)
        return done;
    restartFromZero();
    return 0;
}

void DownloadTaskSpecification::restartFromZero()
{
    file.seek(0);
    file.resize(0);
    digest->reset();
    resumeOffset = 0;
    bytesReceived = bytesAtLastTick = 0;
    setProgress(0.0);
}

void DownloadTaskSpecification::downloadFinished()
{
    emit message(QStringLiteral("Downloading %1 finished").arg(remotePath));
    releaseSlot();
    finish();
}

void DownloadTaskSpecification::errorRetry(const QString& reason)
{
    // The network layer's own texts quote the address, password included.
    const QString shown = Mirrors::maskPassword(reason, mirror.url);
    mirrors->addMirrorError(mirror.name);
    resetDownload();
    emit message(shown);
    startDownload();
}

void DownloadTaskSpecification::stopOnWriteFailure(int errorCode)
{
    // Qt leaves errno as the failed system call set it; should it ever be
    // lost, the file's own error still tells a full disk from the rest.
    if (errorCode == 0)
        errorCode = file.error() == QFileDevice::ResourceError ? ENOSPC : EIO;
    const qint64 needed = spaceNeeded ? spaceNeeded() : expectedSize;
    const QString dir = QFileInfo(file.fileName()).absolutePath();
    // A full disk, a quota, a read-only or unwritable directory: every
    // mirror would fail the same way, so none is charged, and the update
    // stops with its session kept for a run after the user has made room.
    // The partial file goes first, so the free space said is what there is.
    resetDownload();
    emit error(WriteFailure::message(dir, errorCode, needed, WriteFailure::freeSpace(dir)));
    errorCancel();
}

void DownloadTaskSpecification::stopOnProxyRefusal()
{
    // Every mirror is reached through the same proxy: trying the next one
    // would only drop them all for a fault of the credentials.
    const QString proxy = proxyName();
    resetDownload();
    emit error(QStringLiteral("The proxy %1 refused the credentials (407)").arg(proxy));
    errorCancel();
}

QString DownloadTaskSpecification::proxyName() const
{
    QNetworkProxyFactory* factory = networkManager->proxyFactory();
    const QNetworkProxy proxy =
        factory ? factory->queryProxy(QNetworkProxyQuery(requestUrl())).value(0) : networkManager->proxy();
    return QStringLiteral("%1:%2").arg(proxy.hostName()).arg(proxy.port());
}

void DownloadTaskSpecification::releaseSlot()
{
    if (holdingSlot)
        mirrors->releaseMirror(mirror.name);
    holdingSlot = false;
}

void DownloadTaskSpecification::resetDownload()
{
    releaseSlot();
    mirror.name.clear();
    stopWaitingForSlot();
    if (reply) {
        disconnect(reply, nullptr, this, nullptr);
        reply->deleteLater();
        reply = nullptr;
    }
    stallTicks = 0;
    pace.restart();
    lastTickMs = -1;
    // A copy being read back for its digest goes like one being written to.
    if (file.isOpen() || pendingPrefix) {
        file.close();
        file.remove();
        PartialDownload::forget(file.fileName());
    }
    pendingPrefix.reset();
    readyPrefix.reset();
    digest->reset();
    resumeOffset = 0;
    receivedMd5.clear();
    resumed = false;
    bytesAtLastTick = 0;
    bytesReceived = 0;
    expectedSize = initialExpectedSize;
    setProgress(0.0);
}

TransferFigures DownloadTaskSpecification::timeTick()
{
    TransferFigures figures;
    figures.done = quint64(bytesReceived);
    figures.total = quint64(std::max<qint64>(expectedSize, 0));
    figures.speed = quint64(bytesReceived - bytesAtLastTick);
    bytesAtLastTick = bytesReceived;
    const qint64 now = clock ? clock()
                             : std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                   .count();
    const bool late = lastTickMs >= 0 && now - lastTickMs > lateTickMs;
    lastTickMs = now;
    if (state() != Running || !reply)
        return figures;
    // Held up ourselves (the window busy, the machine suspended): whatever
    // the mirror sent meanwhile is not in this tick's figures, and no mirror
    // is charged for that.
    if (late) {
        figures.active = true;
        return figures;
    }
    // Data that has come but waits to be read is no silence of the mirror's.
    if (reply->bytesAvailable() > 0) {
        stallTicks = 0;
    } else if (++stallTicks > mirror.timeoutTicks) {
        errorRetry(QStringLiteral("file %1 timed out on mirror %2").arg(remotePath, mirror.name));
        return figures;
    }
    // A byte now and then keeps the silence count at zero, and would hold
    // the update for weeks.
    if (pace.tooSlow(bytesReceived)) {
        errorRetry(
            QStringLiteral("file %1 too slow on mirror %2: less than %3 bytes per second over %4 seconds")
                .arg(remotePath, mirror.name)
                .arg(minBytesPerTick)
                .arg(paceWindowTicks));
        return figures;
    }
    figures.active = true;
    return figures;
}

void DownloadTaskSpecification::userCanceled()
{
    TaskSpecification::userCanceled();
    if (state() != Running)
        return;
    keepCopyForNextRun();
    resetDownload();
    userCancel();
}

void DownloadTaskSpecification::keepCopyForNextRun()
{
    // A copy that the next run can continue stays, as after a kill: one of a
    // file large enough to be resumed, whose answer gave a validator. Left
    // closed and forgotten here, resetDownload() does not delete it.
    if (initialExpectedSize < PartialDownload::minResumableBytes
        || PartialDownload::loadValidator(file.fileName()).isEmpty())
        return;
    if (pendingPrefix) {
        // Still being read back: it is the earlier run's copy, untouched.
        pendingPrefix.reset();
        return;
    }
    if (!file.isOpen() || bytesReceived <= 0 || bytesReceived >= initialExpectedSize)
        return;
    // Whatever the buffer still holds belongs to the copy; a copy that
    // cannot be completed on disk is not worth keeping.
    if (file.flush())
        file.close();
}

void DownloadTaskSpecification::handleOtherTaskCancelled(TaskSpecification*)
{
    if (reply) {
        emit message(QStringLiteral("Abort downloading %1").arg(remotePath));
        resetDownload();
    }
    stopWaitingForSlot();
    errorCancel();
}

QString DownloadTaskSpecification::fileUrl() const
{
    return Mirrors::maskPassword(mirror.url + QLatin1Char('/') + remotePath, mirror.url);
}

QUrl DownloadTaskSpecification::requestUrl() const
{
    // The remote path is a file name, not URL text: parsed as a URL, a "#"
    // or "?" in it would cut the path short and "%41" would name another
    // file. Only the mirror's base URL is read as a URL.
    const QByteArray path = QUrl::toPercentEncoding(remotePath, "/!$&'()*+,;=:@");
    return QUrl(mirror.url + QLatin1Char('/') + QString::fromLatin1(path));
}
