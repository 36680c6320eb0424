// A real nginx on loopback for the end-to-end tests: static mirror sites and
// forwarding proxies, each on a free port with an access log of its own.
#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

class NginxServer final {
public:
    struct Site {
        QString root; // folder served, or empty for a proxy
        bool proxy = false; // forwards every request to the host it names
        int limitRate = 0; // bytes per second and connection; 0 for no limit
        // PEM files of a certificate and its key: the site speaks HTTPS and
        // offers HTTP/2. Both empty for plain HTTP.
        QString certificate {};
        QString key {};
        // Requests one connection serves before nginx closes it; 0 for
        // nginx's default (1000).
        int keepaliveRequests = 0;
    };

    NginxServer() = default;
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // The nginx executable, or empty when it is not installed.
    static QString binary();

    // Makes a self-signed certificate for 127.0.0.1 and its key with the
    // openssl command line, as PEM files in dir; false if that fails.
    static bool makeCertificate(const QString& dir, QString& certificate, QString& key);

    // Writes a configuration below workDir and starts nginx in the
    // foreground; true once every site accepts connections (10 s at most).
    bool start(const QString& workDir, const QList<Site>& sites);
    void stop();

    // "http://127.0.0.1:<port>" of a site, "https://..." for one with a certificate.
    QString url(int site) const;
    quint16 port(int site) const { return m_ports.value(site); }
    // The request lines a site has logged so far ("GET /2/a.txt HTTP/1.1"),
    // with the status after a blank: "GET /2/a.txt HTTP/1.1 200".
    QStringList accessLog(int site) const;
    // Body bytes a site has sent so far for the requests whose path contains
    // uriPart (all requests for an empty one); a request counts once it has ended.
    qint64 bytesSent(int site, const QString& uriPart = QString()) const;
    // nginx's error log and output, for failure messages.
    QString errorText() const;

private:
    QProcess m_process;
    QString m_workDir;
    QList<quint16> m_ports;
    QList<bool> m_secure;
};
