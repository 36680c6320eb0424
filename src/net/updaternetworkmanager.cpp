// The network access of the updater.
#include "updaternetworkmanager.h"

#include <QNetworkRequest>

#include "buildconfig.h"

UpdaterNetworkManager::UpdaterNetworkManager(QObject* parent)
    : QNetworkAccessManager(parent)
{
    setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

QByteArray UpdaterNetworkManager::userAgent()
{
    return QByteArrayLiteral("CorvaneUpdater/") + CORVANE_VERSION;
}

QNetworkReply* UpdaterNetworkManager::createRequest(
    Operation op, const QNetworkRequest& request, QIODevice* outgoingData)
{
    if (request.hasRawHeader("User-Agent"))
        return QNetworkAccessManager::createRequest(op, request, outgoingData);
    QNetworkRequest named(request);
    named.setRawHeader("User-Agent", userAgent());
    return QNetworkAccessManager::createRequest(op, named, outgoingData);
}
