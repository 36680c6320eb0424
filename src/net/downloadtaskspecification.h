// The task that fetches one file from the mirrors into a local file, with
// failover to another mirror on every kind of failure.
#pragma once

#include <functional>
#include <memory>

#include <QCryptographicHash>
#include <QFile>
#include <QNetworkReply>
#include <QPointer>
#include <QString>

#include "net/mirrors.h"
#include "net/throughputwindow.h"
#include "tasks/taskspecification.h"

class QNetworkAccessManager;
class QUrl;
struct ResumePrefix;

/// Downloads remotePath (below the mirror's versioned base URL, no leading
/// slash) into localPath. Each attempt takes a slot of a mirror drawn from
/// the registry and sends one GET; redirects are never followed. The body is
/// streamed to the file as it arrives.
///
/// On a bad status, a network or read error, a stall (see timeTick) or more
/// data than expectedSize (or the size limit), the mirror is charged (or
/// removed), the partial file deleted, and the file fetched again from a
/// freshly drawn mirror, until it is complete or no mirror is left (then
/// ErrorCanceled). A file that cannot be written (full disk, quota, read-only
/// or unwritable directory) is this machine's fault: the task reports error
/// with the directory and the cause, charges no mirror and ends in
/// ErrorCanceled.
/// A proxy that refuses the credentials (407) is no mirror's fault either:
/// error "The proxy %1 refused the credentials (407)", ErrorCanceled.
/// When every slot is taken the task waits until some reply of the manager
/// finishes. The user's cancel leaves a partial copy of a file of at least
/// PartialDownload::minResumableBytes whose answer named a validator, for the
/// next run to continue; any other cancelled task leaves no partial file.
///
/// expectedSize is the file's size in bytes, or -1 when unknown. The manager
/// and the registry are not owned. GUI thread only.
class DownloadTaskSpecification final : public TaskSpecification {
    Q_OBJECT
    Q_DISABLE_COPY(DownloadTaskSpecification)

public:
    DownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors, const QString& remotePath,
        const QString& localPath, qint64 expectedSize, QObject* parent, double parentProgressRange);
    ~DownloadTaskSpecification() override;

    /// For a file of unknown size: more than maxBytes count like more data
    /// than an expected size. -1 (the default) sets no limit.
    void setSizeLimit(qint64 maxBytes) { sizeLimit = maxBytes; }
    /// For a file a mirror may or may not carry: a 404 is then the mirror's
    /// answer that it has none, not a fault. The task finishes without a file
    /// and without charging the mirror, and isAbsent() says so.
    void setAbsenceAllowed(bool allowed) { absenceAllowed = allowed; }
    /// Once finished: the mirror said it has no such file (see setAbsenceAllowed).
    bool isAbsent() const { return absent; }
    /// What the downloads this one belongs to still need in its directory,
    /// asked when the disk turns out to be full. Unset, it is the size of
    /// this file, unsaid when unknown.
    void setSpaceNeeded(std::function<qint64()> bytesStillNeeded)
    {
        spaceNeeded = std::move(bytesStillNeeded);
    }

    void execute() override;
    void reset() override;
    /// done: bytes of the current attempt; total: the expected size or 0 if
    /// unknown; speed: bytes since the previous tick. While a
    /// transfer runs, each call without new data counts as a silent tick; one
    /// beyond the mirror's timeoutTicks abandons the transfer and retries. So
    /// does a transfer that brings less than minBytesPerTick a tick on average
    /// over the last paceWindowTicks ticks, however steadily it trickles.
    /// A stall of our own is no mirror's fault: a tick that comes more than
    /// lateTickMs after the one before (this process was held up) is not
    /// judged, and data that has come but waits to be read is not silence.
    TransferFigures timeTick() override;
    /// Drops the transfer (or stops waiting for a slot) and ends in
    /// UserCanceled, keeping a partial copy the next run can continue.
    void userCanceled() override;
    /// Drops the transfer (or stops waiting for a slot) and ends in ErrorCanceled.
    void handleOtherTaskCancelled(TaskSpecification* other) override;
    virtual void downloadFinished();

    /// The tick is a second: slower than this, a mirror is dropped like one
    /// that has gone silent.
    static constexpr int paceWindowTicks = 60;
    static constexpr qint64 minBytesPerTick = 1024;
    /// Ticks are due every second.
    static constexpr qint64 lateTickMs = 2500;
    /// The clock ticks are timed by, in milliseconds (monotonic); tests that
    /// play a held-up process set their own.
    void setClock(std::function<qint64()> nowMs) { clock = std::move(nowMs); }

    /// The mirror of the current attempt; a finished task keeps it (for a
    /// caller that drops a mirror whose file fails its check) until reset.
    const FTPSiteAccessData& getMirror() const { return mirror; }
    /// Once finished: the lower-case hexadecimal MD5 of the file, taken as its
    /// bytes arrived, so that checking it needs no second read.
    const QByteArray& md5Hex() const { return receivedMd5; }
    /// Once finished: whether the file continued a copy left by an earlier run.
    bool wasResumed() const { return resumed; }

private slots:
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onReadyRead();
    void onDownloadFinished();
    void onMetaDataChanged();
    void onOtherDownloadFinished(QNetworkReply* finishedReply);

private:
    void startDownload();
    void resetDownload();
    void errorRetry(const QString& reason);
    // Ends the task without charging the mirror; errorCode is the errno of
    // the failed open or write.
    void stopOnWriteFailure(int errorCode);
    // The proxy turned our credentials down: ends the task without charging
    // the mirror, which is not at fault.
    void stopOnProxyRefusal();
    // "host:port" of the proxy the current request goes through.
    QString proxyName() const;
    bool readData();
    // The saved validator of a partial copy worth continuing, or empty.
    QByteArray resumableValidator() const;
    // Reads the copy back on the thread pool for its digest, then starts.
    void digestPrefixFirst();
    void onPrefixDigested(const std::shared_ptr<ResumePrefix>& prefix);
    // Takes over the copy's digest (read back now if it was not already);
    // returns where the rest goes (0 if unreadable).
    qint64 takeUpPrefix();
    // Drops what the copy holds; the body that follows is the whole file.
    void restartFromZero();
    // On the user's cancel: leaves a partial copy that can be continued.
    void keepCopyForNextRun();
    // The most bytes this file may have, or -1 for no bound.
    qint64 maxSize() const;
    void waitForFreeSlot();
    void stopWaitingForSlot();
    void releaseSlot();
    // The file's address for log lines, its password masked.
    QString fileUrl() const;
    QUrl requestUrl() const;

    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    // Guarded: the manager owns its replies and may be destroyed first when
    // the program shuts down in the middle of a transfer.
    QPointer<QNetworkReply> reply;
    int stallTicks = 0;
    ThroughputWindow pace {paceWindowTicks, minBytesPerTick};
    std::function<qint64()> clock;
    // When the previous tick of this attempt came, or -1.
    qint64 lastTickMs = -1;
    QString remotePath;
    QFile file;
    qint64 bytesAtLastTick = 0;
    qint64 expectedSize;
    qint64 initialExpectedSize;
    qint64 sizeLimit = -1;
    bool absenceAllowed = false;
    bool absent = false;
    std::function<qint64()> spaceNeeded;
    qint64 bytesReceived = 0;
    // Where this attempt's body starts in the file: the length of the copy
    // it continues, or 0.
    qint64 resumeOffset = 0;
    std::unique_ptr<QCryptographicHash> digest;
    // A copy of a GiB takes seconds to read back, which the window would
    // spend frozen: its digest is taken on the thread pool. pendingPrefix is
    // the digest under way (a result for any other is stale), readyPrefix
    // the one that the first request continues.
    std::shared_ptr<ResumePrefix> pendingPrefix;
    std::shared_ptr<ResumePrefix> readyPrefix;
    QByteArray receivedMd5;
    bool resumed = false;
    FTPSiteAccessData mirror;
    // Whether this task holds a slot of mirror; the slot is given back once
    // only, however the attempt ends.
    bool holdingSlot = false;
};
