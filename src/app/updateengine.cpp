// The update engine.
#include "updateengine.h"

#include "base/randomsource.h"
#include "configuration.h"
#include "crypto/tomcryptutil.h"
#include "net/banner.h"
#include "net/mirrors.h"
#include "net/proxyrules.h"
#include "net/updaternetworkmanager.h"
#include "release/specialfiles.h"
#include "update/maintaskspecification.h"
#include "update/updateinidata.h"
#include "update/updateparameters.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

namespace {

// Also the unit of the speed figure: bytes per tick are bytes per second.
constexpr int tickMs = 1000;
// Larger banners are not worth the memory; the window shows 468 x 60 pixels.
constexpr qint64 maxBannerSize = 270000;

// The recorded session directory in a form that is safe to empty and remove,
// or an empty text. The record is a plain text file: a damaged or edited one
// must never point the clean-up at, say, the user's home. Only a real
// directory (not a link) whose own name is one this installation gives its
// temporary directories qualifies, judged after resolving links and "..".
// otherInstallation says when the name is one of another installation's.
QString sessionDirectory(const QString& recorded, bool* otherInstallation)
{
    *otherInstallation = false;
    const QFileInfo info(recorded);
    if (recorded.isEmpty() || info.isSymLink() || !info.isDir())
        return {};
    const QString canonical = info.canonicalFilePath();
    const QString name = QFileInfo(canonical).fileName();
    if (name.startsWith(Configuration::tempDirPrefix()))
        return canonical;
    *otherInstallation = name.startsWith(QLatin1String("corvane_temp_"));
    return {};
}

// Whether a session directory is ours alone. The temporary folder is shared:
// once the directory is gone (a reboot, a temp cleaner) any local user can
// create one of the recorded name and swap files into it after their
// download check. Such a directory is neither continued in nor emptied.
bool isPrivateDirectory(const QString& dir)
{
    struct stat info;
    return ::lstat(QFile::encodeName(dir).constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

UpdateEngine::UpdateEngine(Configuration& configuration, QObject* parent)
    : QObject(parent)
    , configuration(&configuration)
    , timer(new QTimer(this))
    , networkManager(new UpdaterNetworkManager(this))
{
    connect(&configuration, &Configuration::message, this, &UpdateEngine::message);
    connect(timer, &QTimer::timeout, this, &UpdateEngine::onTimer);
    configuration.getProxyAndDownloadConcurrency();
    // The release statement comes through the same manager and proxy; with a
    // proxy that cannot be used the run ends with its error before anything
    // is asked for.
    if (applyProxy())
        configuration.setNetworkAccessManager(networkManager);
}

bool UpdateEngine::applyProxy()
{
    auto* rules = new ProxyRules(configuration->proxy(), QProcessEnvironment::systemEnvironment());
    const QString errorMessage = rules->error();
    networkManager->setProxyFactory(rules);
    // A proxy text without a host ("proxy:8080" reads as a scheme and a
    // path) would make every transfer fail later with a less helpful error.
    // Nobody listens yet while the window is still constructing us.
    if (!errorMessage.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, errorMessage] { emit fatalError(errorMessage); }, Qt::QueuedConnection);
        return false;
    }
    return true;
}

UpdateEngine::~UpdateEngine() = default;

bool UpdateEngine::prepareSession()
{
    try {
        crypt_init();
    } catch (const crypt_exception& e) {
        emit fatalError(QString::fromLocal8Bit(e.what()));
        return false;
    }

    const QString& mirrorsIni = SpecialFiles::mirrorsIni();
    if (!QFileInfo::exists(QDir(Configuration::getAppRootPath()).filePath(mirrorsIni))) {
        emit fatalError(QStringLiteral("%1 is missing, cannot proceed.").arg(mirrorsIni));
        return false;
    }

    RandomSource::seed(static_cast<quint32>(QDateTime::currentSecsSinceEpoch()));
    return true;
}

QString UpdateEngine::recordedSession(int* version, QString* recorded, QString* whyNotUsed) const
{
    QString text;
    if (!UpdateIniData::get(version, nullptr, &text))
        return {};
    if (recorded)
        *recorded = text;
    bool otherInstallation = false;
    const QString dir = sessionDirectory(text, &otherInstallation);
    QString reason;
    if (otherInstallation)
        reason = QStringLiteral("it was made for another installation");
    else if (!dir.isEmpty() && !isPrivateDirectory(dir))
        reason = QStringLiteral("it is not a private directory of this user");
    if (whyNotUsed)
        *whyNotUsed = reason;
    return reason.isEmpty() ? dir : QString();
}

bool UpdateEngine::loadMirrors()
{
    releaseMirrors();
    mirrors = new Mirrors(this);
    connect(mirrors, &Mirrors::fatalError, this, &UpdateEngine::fatalError);
    connect(mirrors, &Mirrors::message, this, &UpdateEngine::message);
    return configuration->channel() == Alpha
        ? mirrors->initAlpha(UpdateIniData::filename(), configuration->clientVersion())
        : mirrors->initDefault(QDir(Configuration::getAppRootPath()).filePath(SpecialFiles::mirrorsIni()),
            configuration->clientVersion());
}

bool UpdateEngine::initialize()
{
    if (!prepareSession())
        return false;

    // Checked before any temporary directory exists: without write access
    // the session could not be recorded, and its directory would be left
    // behind with nobody knowing of it. A check writes nothing there and
    // may run as a user who only reads the installation.
    const QString clientDir = QDir(Configuration::getAppRootPath()).absolutePath();
    if (::faccessat(AT_FDCWD, QFile::encodeName(clientDir).constData(), W_OK, AT_EACCESS) != 0) {
        emit fatalError(QStringLiteral("The client directory %1 is not writable").arg(clientDir));
        return false;
    }
    const QString recordRefusal = UpdateIniData::writeRefusal();
    if (!recordRefusal.isEmpty()) {
        emit fatalError(recordRefusal);
        return false;
    }

    int version = 0;
    QString recorded;
    QString whyNotUsed;
    QString dir = recordedSession(&version, &recorded, &whyNotUsed);
    if (!whyNotUsed.isEmpty()) {
        emit message(QStringLiteral("Not using %1 of an earlier session: %2").arg(recorded, whyNotUsed));
        UpdateIniData::cleanup();
    }
    if (!dir.isEmpty()) {
        if (version == configuration->clientVersion()) {
            // The downloads verified so far are kept and not fetched again.
            emit message(QStringLiteral("Previous update session for v. %1 found").arg(version));
        } else {
            emit message(QStringLiteral("Cleanup previous session (v. %1, %2) files...")
                             .arg(QString::number(version), recorded));
            removeSessionDirectory(dir, true);
            dir.clear();
            UpdateIniData::cleanup();
        }
    }

    const bool newDir = dir.isEmpty();
    if (!configuration->initializeStart(dir))
        return false;
    if (!UpdateIniData::modify(
            configuration->clientVersion(), configuration->tempDir(), configuration->clientType())) {
        // A directory of no recorded session would never be cleaned up.
        if (newDir)
            QDir().rmdir(configuration->tempDir());
        emit fatalError(
            QStringLiteral("Cannot record the update session in %1").arg(UpdateIniData::filename()));
        return false;
    }

    if (!loadMirrors())
        return false;
    checkDir.reset();
    state = EngineInitialized;
    return true;
}

bool UpdateEngine::startUpdate()
{
    startTask(
        new MainTaskSpecification(networkManager, mirrors, configuration->updateParameters(), this, 1.0));
    return true;
}

bool UpdateEngine::initializeCheck()
{
    if (!prepareSession())
        return false;

    // Named unlike session directories, so that nothing ever takes it for one.
    const QString tempPath = QDir::tempPath();
    errno = 0;
    auto scratch = std::make_unique<QTemporaryDir>(tempPath + QStringLiteral("/corvane_check_XXXXXX"));
    if (!scratch->isValid()) {
        const int cause = tempPath.isEmpty() ? ENOENT : errno;
        emit fatalError(Configuration::tempDirFailure(
            tempPath.isEmpty() ? qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp")) : tempPath,
            cause != 0 ? cause : EIO));
        return false;
    }
    int version = 0;
    const QString dir = recordedSession(&version);
    // Only downloads an update would continue with count as done.
    checkDownloadsDir = version == configuration->clientVersion() ? dir : QString();
    if (!loadMirrors())
        return false;
    checkDir = std::move(scratch);
    state = EngineInitialized;
    return true;
}

bool UpdateEngine::startCheck()
{
    UpdateParameters parameters = configuration->updateParameters();
    parameters.productIniDir = checkDir->path();
    parameters.tempDir = checkDownloadsDir.isEmpty() ? checkDir->path() : checkDownloadsDir;
    startTask(new MainTaskSpecification(
        networkManager, mirrors, parameters, this, 1.0, MainTaskSpecification::ListsOnly));
    return true;
}

void UpdateEngine::startTask(MainTaskSpecification* task)
{
    mainTask = task;
    connect(mainTask, &TaskSpecification::finished, this, &UpdateEngine::onTaskFinished);
    connect(mainTask, &TaskSpecification::canceled, this, &UpdateEngine::onTaskCanceled);
    connect(mainTask, &TaskSpecification::error, this, &UpdateEngine::error);
    connect(mainTask, &TaskSpecification::updateProgress, this, &UpdateEngine::updateProgress);
    connect(mainTask, &TaskSpecification::message, this, &UpdateEngine::message);
    connect(mainTask, &MainTaskSpecification::listsCompiled, this, &UpdateEngine::listsCompiled);
    state = EngineRunning;
    timer->start(tickMs);
    mainTask->execute();
}

UpdateStage UpdateEngine::stage() const
{
    return mainTask ? mainTask->currentStage() : UpdateStage::None;
}

void UpdateEngine::onTimer()
{
    if (state != EngineRunning)
        return;
    // The tick also drives the stall detection of the transfers.
    const TransferFigures figures = mainTask->timeTick();
    emit downloadProgress(figures.done, figures.total, figures.speed, figures.active);
}

void UpdateEngine::cancelUpdate()
{
    if (state == EngineRunning)
        mainTask->userCanceled();
}

void UpdateEngine::onTaskFinished()
{
    timer->stop();
    const bool wasCheck = checkDir != nullptr;
    if (!wasCheck) {
        cleanup();
        // What later runs compare a version from the network with.
        if (!UpdateIniData::recordInstalled(configuration->clientVersion(),
                channelName(configuration->channel()), configuration->statementIssued()))
            emit message(
                QStringLiteral("Cannot record the installed version in %1").arg(UpdateIniData::filename()));
    }
    checkDir.reset();
    state = EngineFinished;
    if (!wasCheck)
        emit message(QStringLiteral("Update successfully finished"));
    releaseMainTask();
    emit downloadProgress(0, 0, 0, false);
    if (wasCheck)
        emit checkFinished();
    else
        emit updateFinished();
}

void UpdateEngine::onTaskCanceled()
{
    timer->stop();
    state = EngineCanceled;
    // After an error the task has said why; only the user's wish needs a line.
    if (mainTask->state() == TaskSpecification::UserCanceled)
        emit message(QStringLiteral("User aborted update"));
    // The directory and the record stay: the next start continues in them.
    // A check's scratch directory holds nothing worth keeping.
    checkDir.reset();
    releaseMainTask();
    emit downloadProgress(0, 0, 0, false);
    emit updateCanceled();
}

void UpdateEngine::releaseMainTask()
{
    releaseMirrors();
    // The task may still be on the call stack that reported its end.
    mainTask->deleteLater();
    mainTask = nullptr;
}

void UpdateEngine::releaseMirrors()
{
    if (!mirrors)
        return;
    // The task, and what it still has queued (a transfer that ends, a slot
    // given back), uses the registry until the task itself is gone: the two
    // go together. One that no task took goes now.
    if (mainTask)
        mirrors->setParent(mainTask);
    else
        delete mirrors;
    mirrors = nullptr;
}

void UpdateEngine::reset()
{
    state = EngineIdle;
    checkDir.reset();
    if (mainTask) {
        disconnect(mainTask, nullptr, this, nullptr);
        releaseMainTask();
    }
}

bool UpdateEngine::busy() const
{
    return state == EngineInitialized || state == EngineRunning;
}

void UpdateEngine::getBanner()
{
    if (bannerReply)
        return;
    auto* banner = new Banner(this);
    connect(banner, &Banner::bannerFound, this, &UpdateEngine::onBannerFound);
    banner->run();
}

void UpdateEngine::onBannerFound(QString bannerUrl, QString clickUrl)
{
    const QUrl url(bannerUrl);
    // One image at a time: a second query answering late changes nothing.
    if (!url.isValid() || bannerReply)
        return;
    bannerClickUrl = clickUrl;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    bannerReply = networkManager->get(request);
    connect(bannerReply, &QNetworkReply::finished, this, &UpdateEngine::onBannerDownloadFinished);
    connect(bannerReply, &QNetworkReply::metaDataChanged, this, &UpdateEngine::onBannermetaDataChanged);
    connect(bannerReply, &QNetworkReply::downloadProgress, this, &UpdateEngine::onBannerDownloadProgress);
}

void UpdateEngine::onBannermetaDataChanged()
{
    const QVariant length = bannerReply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > maxBannerSize)
        dropBannerDownload();
}

void UpdateEngine::onBannerDownloadProgress(qint64 bytesReceived, qint64 /*bytesTotal*/)
{
    // Without a Content-Length the header check cannot stop an endless body.
    if (bytesReceived > maxBannerSize)
        dropBannerDownload();
}

void UpdateEngine::dropBannerDownload()
{
    disconnect(bannerReply, nullptr, this, nullptr);
    // Stop the transfer now rather than when the reply is deleted.
    bannerReply->abort();
    bannerReply->deleteLater();
    bannerReply = nullptr;
}

void UpdateEngine::onBannerDownloadFinished()
{
    // Neither the status nor a network error matters here: the window
    // ignores whatever does not decode as an image.
    const QByteArray data = bannerReply->readAll();
    bannerReply->deleteLater();
    bannerReply = nullptr;
    emit bannerFound(data, bannerClickUrl);
}

void UpdateEngine::cleanup()
{
    emit message(QStringLiteral("Remove temporary files..."));
    // A record naming anything else counts as none and stays untouched.
    const QString dir = recordedSession(nullptr);
    if (!dir.isEmpty()) {
        removeSessionDirectory(dir, false);
        UpdateIniData::cleanup();
    }
    emit message(QStringLiteral("Temporary files removed."));
}

void UpdateEngine::removeSessionDirectory(const QString& dir, bool report)
{
    cleanupDirectory(dir);
    QDir parent(dir);
    if (!parent.cdUp())
        return;
    const bool removed = parent.rmdir(QFileInfo(dir).fileName());
    if (report)
        emit message(removed ? QStringLiteral("Ok") : QStringLiteral("Failed to remove directory"));
}

void UpdateEngine::cleanupDirectory(const QString& path)
{
    QDir dir(path);
    // QDir lists a dangling link as a system entry even with NoSymLinks, so
    // links are sorted out by hand.
    const QDir::Filters common = QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Files | common)) {
        if (!entry.isSymLink())
            dir.remove(entry.fileName());
    }
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Dirs | common)) {
        if (entry.isSymLink())
            continue;
        cleanupDirectory(entry.filePath());
        dir.rmdir(entry.fileName());
    }
}

void UpdateEngine::removeOldFiles(const QString& dir)
{
    const QString& prefix = Configuration::getSpecialFileRenamePrefix();
    for (const QString& name : Configuration::getSpecialFileNames())
        QFile::remove(dir + QLatin1Char('/') + prefix + name);
}

void UpdateEngine::removeSelfUpdateLeftovers()
{
    const QString root = Configuration::getAppRootPath();
    removeOldFiles(root);
    removeOldFiles(root + QStringLiteral("/imageformats"));
    removeOldFiles(root + QStringLiteral("/accessible"));
}
