// The network access of the updater: every request it makes, downloads,
// banner image and change log alike, names it as the user agent.
#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>

/// Sets the User-Agent "CorvaneUpdater/<version>" on every request that
/// names none, so that publishers can tell the updater's traffic apart in
/// their logs. Redirects are never followed: they are answers like any other.
class UpdaterNetworkManager final : public QNetworkAccessManager {
    Q_OBJECT
    Q_DISABLE_COPY(UpdaterNetworkManager)

public:
    explicit UpdaterNetworkManager(QObject* parent = nullptr);

    /// "CorvaneUpdater/<version>".
    static QByteArray userAgent();

protected:
    QNetworkReply* createRequest(
        Operation op, const QNetworkRequest& request, QIODevice* outgoingData) override;
};
