// A real nginx on loopback. It runs without a master process, so it never
// switches users (tests may run as root) and one signal stops it.
#include "nginxserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include "testfiles.h"

namespace {

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString quoted(const QString& path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

NginxServer::~NginxServer()
{
    stop();
}

QString NginxServer::binary()
{
    const QStringList paths {
        QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/bin")};
    return QStandardPaths::findExecutable(QStringLiteral("nginx"), paths);
}

bool NginxServer::makeCertificate(const QString& dir, QString& certificate, QString& key)
{
    certificate = dir + QStringLiteral("/cert.pem");
    key = dir + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
            QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
            QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"), key,
            QStringLiteral("-out"), certificate});
    return QDir().mkpath(dir) && openssl.waitForFinished(30000)
        && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
}

bool NginxServer::start(const QString& workDir, const QList<Site>& sites)
{
    m_workDir = workDir;
    m_ports.clear();
    m_secure.clear();
    const QString temp = workDir + QStringLiteral("/temp");
    if (!QDir().mkpath(temp))
        return false;
    QString servers;
    for (int i = 0; i < sites.size(); ++i) {
        const Site& site = sites.at(i);
        const quint16 port = freePort();
        if (port == 0)
            return false;
        m_ports.append(port);
        const bool secure = !site.certificate.isEmpty();
        m_secure.append(secure);
        servers += QStringLiteral("  server {\n    listen 127.0.0.1:%1%2;\n    access_log %3 requests;\n"
                                  "    access_log %4 bytes;\n")
                       .arg(port)
                       .arg(secure ? QStringLiteral(" ssl http2") : QString())
                       .arg(quoted(workDir + QStringLiteral("/access-%1.log").arg(i)),
                           quoted(workDir + QStringLiteral("/bytes-%1.log").arg(i)));
        if (secure) {
            servers += QStringLiteral("    ssl_certificate %1;\n    ssl_certificate_key %2;\n")
                           .arg(quoted(site.certificate), quoted(site.key));
        }
        if (site.keepaliveRequests > 0)
            servers += QStringLiteral("    keepalive_requests %1;\n").arg(site.keepaliveRequests);
        if (site.limitRate > 0)
            servers += QStringLiteral("    limit_rate %1;\n").arg(site.limitRate);
        if (site.proxy) {
            // A forward proxy for plain HTTP: the request names the host.
            servers += QStringLiteral("    location / { proxy_pass http://$http_host; }\n");
        } else {
            servers += QStringLiteral("    root %1;\n").arg(quoted(site.root));
        }
        servers += QStringLiteral("  }\n");
    }
    const QString config = QStringLiteral(
        "daemon off;\nmaster_process off;\nworker_processes 1;\npid %1;\nerror_log %2 info;\n"
        "events { worker_connections 64; }\n"
        "http {\n  default_type application/octet-stream;\n"
        "  log_format requests '$request $status';\n  log_format bytes '$uri $body_bytes_sent';\n"
        "  client_body_temp_path %3/body;\n  proxy_temp_path %3/proxy;\n  fastcgi_temp_path %3/fastcgi;\n"
        "  uwsgi_temp_path %3/uwsgi;\n  scgi_temp_path %3/scgi;\n%4}\n")
                               .arg(quoted(workDir + QStringLiteral("/nginx.pid")),
                                   quoted(workDir + QStringLiteral("/error.log")), temp, servers);
    const QString configFile = workDir + QStringLiteral("/nginx.conf");
    if (!TestFiles::write(configFile, config.toUtf8()))
        return false;

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(binary(),
        {QStringLiteral("-e"), workDir + QStringLiteral("/error.log"), QStringLiteral("-p"), workDir,
            QStringLiteral("-c"), configFile});
    if (!m_process.waitForStarted(5000))
        return false;
    const QDeadlineTimer deadline(10000);
    for (const quint16 port : std::as_const(m_ports)) {
        while (!accepts(port)) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return false;
            QThread::msleep(20);
        }
    }
    return true;
}

void NginxServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString NginxServer::url(int site) const
{
    const QString scheme = m_secure.value(site) ? QStringLiteral("https") : QStringLiteral("http");
    return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port(site));
}

QStringList NginxServer::accessLog(int site) const
{
    const QString text =
        QString::fromUtf8(TestFiles::read(m_workDir + QStringLiteral("/access-%1.log").arg(site)));
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

qint64 NginxServer::bytesSent(int site, const QString& uriPart) const
{
    const QByteArray text = TestFiles::read(m_workDir + QStringLiteral("/bytes-%1.log").arg(site));
    qint64 total = 0;
    for (const QByteArray& line : text.split('\n')) {
        const int blank = line.lastIndexOf(' ');
        if (blank > 0 && QString::fromUtf8(line.left(blank)).contains(uriPart))
            total += line.mid(blank + 1).toLongLong();
    }
    return total;
}

QString NginxServer::errorText() const
{
    return QString::fromUtf8(TestFiles::read(m_workDir + QStringLiteral("/error.log")));
}
