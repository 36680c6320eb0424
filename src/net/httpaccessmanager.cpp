// The network access manager of the updater.
#include "httpaccessmanager.h"

#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>
#include <QNetworkRequest>
#include <QUrl>

#include "net/httpconnectionpool.h"
#include "net/httpgetreply.h"

HttpAccessManager::HttpAccessManager(QObject* parent)
    : QNetworkAccessManager(parent)
    , connections(new HttpConnectionPool(this))
{
}

HttpAccessManager::~HttpAccessManager() = default;

bool HttpAccessManager::isDirect(const QUrl& url) const
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

QNetworkReply* HttpAccessManager::createRequest(
    Operation op, const QNetworkRequest& request, QIODevice* outgoingData)
{
    const QUrl url = request.url();
    const QString scheme = url.scheme();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (op != GetOperation || !web || url.host().isEmpty() || !isDirect(url))
        return QNetworkAccessManager::createRequest(op, request, outgoingData);
    return new HttpGetReply(request, connections, this);
}
