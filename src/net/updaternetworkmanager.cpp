// The network access of the updater.
#include "updaternetworkmanager.h"

#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>
#include <QNetworkRequest>
#include <QUrl>

#include "buildconfig.h"
#include "net/httpconnectionpool.h"
#include "net/httpgetreply.h"

UpdaterNetworkManager::UpdaterNetworkManager(QObject* parent)
    : QNetworkAccessManager(parent)
    , connections(new HttpConnectionPool(this))
{
    setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

UpdaterNetworkManager::~UpdaterNetworkManager() = default;

QByteArray UpdaterNetworkManager::userAgent()
{
    return QByteArrayLiteral("CorvaneUpdater/") + CORVANE_VERSION;
}

bool UpdaterNetworkManager::isDirect(const QUrl& url) const
{
    // The toolkit's own order: a factory, else an explicit proxy, else the
    // application's.
    const QNetworkProxyQuery query(url);
    QList<QNetworkProxy> proxies;
    if (proxyFactory())
        proxies = proxyFactory()->queryProxy(query);
    else if (proxy().type() != QNetworkProxy::DefaultProxy)
        proxies = {proxy()};
    else
        proxies = QNetworkProxyFactory::proxyForQuery(query);
    return proxies.isEmpty() || proxies.first().type() == QNetworkProxy::NoProxy;
}

QNetworkReply* UpdaterNetworkManager::createRequest(
    Operation op, const QNetworkRequest& request, QIODevice* outgoingData)
{
    QNetworkRequest named(request);
    if (!named.hasRawHeader("User-Agent"))
        named.setRawHeader("User-Agent", userAgent());
    const QUrl url = named.url();
    const QString scheme = url.scheme();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (op != GetOperation || !web || url.host().isEmpty() || !isDirect(url)) {
        // HTTP/1.1 also where a server offers HTTP/2 over TLS. The toolkit's
        // HTTP/2 client runs every transfer to a host over one connection
        // and, when the server closes it after its 1000 requests, fails the
        // requests already sent as errors or leaves them hanging until our
        // stall time-out: a release of thousands of files lost its mirrors to
        // that. Six connections of HTTP/1.1 fetch as fast on a slow link.
        named.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        return QNetworkAccessManager::createRequest(op, named, outgoingData);
    }
    return new HttpGetReply(named, connections, this);
}
