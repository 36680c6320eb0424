// The real updater binary as a child process.
#include "updaterrun.h"

#include <QDeadlineTimer>

#include <csignal>

UpdaterRun::~UpdaterRun()
{
    if (m_process.state() != QProcess::NotRunning)
        killHard();
}

bool UpdaterRun::start(const QString& clientDir, const QStringList& args, const QProcessEnvironment& env)
{
    QProcessEnvironment all = QProcessEnvironment::systemEnvironment();
    all.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString& key : env.keys())
        all.insert(key, env.value(key));
    m_process.setProcessEnvironment(all);
    m_process.setWorkingDirectory(clientDir);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(clientDir + QStringLiteral("/update"), args);
    return m_process.waitForStarted(10000);
}

bool UpdaterRun::waitForLog(const QString& text, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!log().contains(text)) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return log().contains(text);
        m_process.waitForReadyRead(int(qBound(qint64(1), deadline.remainingTime(), qint64(100))));
    }
    return true;
}

int UpdaterRun::waitForExit(int timeoutMs)
{
    if (!m_process.waitForFinished(timeoutMs)) {
        killHard();
        return -1;
    }
    log();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

bool UpdaterRun::stillRunning()
{
    // Without an event loop the process object learns of output and of the
    // end only while it waits.
    if (m_process.state() != QProcess::NotRunning)
        m_process.waitForFinished(0);
    log();
    return m_process.state() != QProcess::NotRunning;
}

void UpdaterRun::killHard()
{
    m_process.kill(); // SIGKILL: no clean-up code of the updater runs
    m_process.waitForFinished(10000);
    log();
}

QString UpdaterRun::log()
{
    m_log += QString::fromUtf8(m_process.readAll());
    return m_log;
}
