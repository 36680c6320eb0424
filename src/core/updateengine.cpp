// The update engine.
#include "updateengine.h"

#include "configuration.h"
#include "net/banner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace {

constexpr quint16 defaultProxyPort = 3128;
// Larger banners are not worth the memory; the window shows 468 x 60 pixels.
constexpr qint64 maxBannerSize = 270000;

} // namespace

UpdateEngine::UpdateEngine(Configuration& configuration, QObject* parent)
    : QObject(parent)
    , configuration(&configuration)
    , timer(new QTimer(this))
    , networkManager(new QNetworkAccessManager(this))
{
    connect(&configuration, &Configuration::message, this, &UpdateEngine::message);
    // A redirect is an answer like any other: downloads see its status and
    // never follow it to a host the mirror list does not name.
    networkManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    configuration.getProxyAndDownloadConcurrency();
    applyProxy();
}

void UpdateEngine::applyProxy()
{
    const QString& text = configuration->proxy;
    if (text.isEmpty()) {
        networkManager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        return;
    }
    const QUrl url(text);
    // Without a host ("proxy:8080" reads as a scheme and a path) every
    // transfer would fail later with a less helpful error.
    if (!url.isValid() || url.host().isEmpty()) {
        // Nobody listens yet while the window is still constructing us.
        const QString errorMessage = QStringLiteral("'%1' is an invalid proxy specification").arg(text);
        QMetaObject::invokeMethod(
            this, [this, errorMessage] { emit fatalError(errorMessage); }, Qt::QueuedConnection);
        return;
    }
    networkManager->setProxy(QNetworkProxy(
        QNetworkProxy::HttpProxy, url.host(), static_cast<quint16>(url.port(defaultProxyPort))));
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
