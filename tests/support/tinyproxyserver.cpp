// The stock tinyproxy on loopback.
#include "tinyproxyserver.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include "testfiles.h"

namespace {

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

TinyproxyServer::~TinyproxyServer()
{
    stop();
}

QString TinyproxyServer::binary()
{
    const QStringList paths {QStringLiteral("/usr/bin"), QStringLiteral("/usr/sbin")};
    return QStandardPaths::findExecutable(QStringLiteral("tinyproxy"), paths);
}

bool TinyproxyServer::start(const QString& workDir, const QString& user, const QString& password)
{
    m_workDir = workDir;
    m_port = freePort();
    if (m_port == 0)
        return false;
    QByteArray config = "Port " + QByteArray::number(m_port) + "\nListen 127.0.0.1\nTimeout 30\nLogFile \""
        + (workDir + QStringLiteral("/tinyproxy.log")).toUtf8() + "\"\nLogLevel Connect\nMaxClients 20\n"
        + "Allow 127.0.0.1\n";
    if (!user.isEmpty())
        config += "BasicAuth " + user.toUtf8() + ' ' + password.toUtf8() + '\n';
    // As root it would switch to a user of its own that may not exist here.
    if (::getuid() == 0) {
        const passwd* self = ::getpwuid(::getuid());
        const group* own = ::getgrgid(::getgid());
        if (self && own)
            config += QByteArray("User ") + self->pw_name + "\nGroup " + own->gr_name + '\n';
    }
    const QString configFile = workDir + QStringLiteral("/tinyproxy.conf");
    if (!TestFiles::write(configFile, config))
        return false;
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(binary(), {QStringLiteral("-d"), QStringLiteral("-c"), configFile});
    if (!m_process.waitForStarted(5000))
        return false;
    const QDeadlineTimer deadline(10000);
    for (;;) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(200))
            return true;
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(20);
    }
}

void TinyproxyServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

int TinyproxyServer::forwarded(const QString& urlPart) const
{
    int count = 0;
    const QStringList lines = logText().split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.contains(QLatin1String("Request (file descriptor")) && line.contains(urlPart))
            ++count;
    }
    return count;
}

QString TinyproxyServer::logText() const
{
    return QString::fromUtf8(TestFiles::read(m_workDir + QStringLiteral("/tinyproxy.log")));
}
