// The network access of the updater: every request it makes, downloads,
// banner image and change log alike, names it as the user agent, and a GET
// that reaches a web server directly goes through a client of our own that
// bounds what a server may send before the body.
#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>

class HttpConnectionPool;
class QUrl;

/// Sets the User-Agent "CorvaneUpdater/<version>" on every request that
/// names none, so that publishers can tell the updater's traffic apart in
/// their logs. Redirects are never followed: they are answers like any other.
///
/// A GET of an http or https URL that the proxy settings send without a
/// proxy is answered by an HttpGetReply. The toolkit's own client reads a
/// response head of any size, byte by byte, on the one thread that carries
/// every transfer of the manager: a server sending megabytes of header keeps
/// all the others waiting for as long as it likes, and no abort reaches that
/// thread in between. HttpGetReply refuses a head beyond
/// HttpGetReply::maxResponseHeadBytes and reads on the manager's own thread. Requests
/// through a proxy, and any other method or scheme, go to the toolkit, always
/// over HTTP/1.1 (both speak only that to the server). GUI
/// thread only (the thread the manager lives in).
class UpdaterNetworkManager final : public QNetworkAccessManager {
    Q_OBJECT
    Q_DISABLE_COPY(UpdaterNetworkManager)

public:
    explicit UpdaterNetworkManager(QObject* parent = nullptr);
    ~UpdaterNetworkManager() override;

    /// "CorvaneUpdater/<version>".
    static QByteArray userAgent();

    /// Whether the proxy settings of this manager send a request for url
    /// straight to its server.
    bool isDirect(const QUrl& url) const;

protected:
    QNetworkReply* createRequest(
        Operation op, const QNetworkRequest& request, QIODevice* outgoingData) override;

private:
    HttpConnectionPool* connections;
};
