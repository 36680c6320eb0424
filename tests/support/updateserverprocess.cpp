// corvane-updateserver as a child process of a test.
#include "updateserverprocess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

UpdateServerProcess::~UpdateServerProcess()
{
    if (m_process.state() != QProcess::NotRunning)
        stop();
}

bool UpdateServerProcess::start(const QString& program, const QStringList& args)
{
    QStringList all = args;
    if (!args.contains(QStringLiteral("--version-port")))
        all << QStringLiteral("--version-port") << QStringLiteral("0");
    if (!args.contains(QStringLiteral("--banner-port")))
        all << QStringLiteral("--banner-port") << QStringLiteral("0");
    m_process.start(program, all);
    if (!m_process.waitForStarted(10000))
        return false;
    static const QRegularExpression listening(
        QStringLiteral("listening: version and news on [^ ]+:(\\d+), banner on [^ ]+:(\\d+)"));
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        const QRegularExpressionMatch match = listening.match(log());
        if (match.hasMatch()) {
            m_versionPort = quint16(match.captured(1).toUInt());
            m_bannerPort = quint16(match.captured(2).toUInt());
            return true;
        }
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return false;
}

int UpdateServerProcess::stop()
{
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return -1;
    }
    log();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString UpdateServerProcess::versionServer() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_versionPort);
}

QString UpdateServerProcess::bannerServer() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_bannerPort);
}

QString UpdateServerProcess::log()
{
    m_out += QString::fromUtf8(m_process.readAllStandardOutput());
    return m_out;
}

QString UpdateServerProcess::errorText()
{
    return log() + QString::fromUtf8(m_process.readAllStandardError());
}
