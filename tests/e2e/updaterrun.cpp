// The real updater binary as a child process.
#include "updaterrun.h"

#include <QDeadlineTimer>

#include <csignal>

#include "scene.h"

namespace {

// Variables that would let a run reach a display or pick a platform plugin.
const QStringList displayVariables {
    QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("QT_QPA_PLATFORM")};

// Options may come anywhere before "--".
bool isConsoleForm(const QStringList& args)
{
    static const QStringList forms {QStringLiteral("--console"), QStringLiteral("--check"),
        QStringLiteral("--help"), QStringLiteral("-h"), QStringLiteral("--version"), QStringLiteral("-V")};
    for (const QString& arg : args) {
        if (arg == QLatin1String("--"))
            return false;
        if (forms.contains(arg))
            return true;
    }
    return false;
}

} // namespace

UpdaterRun::~UpdaterRun()
{
    if (m_process.state() != QProcess::NotRunning)
        killHard();
}

QProcessEnvironment UpdaterRun::environment(const Scene& scene, const QStringList& args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (isConsoleForm(args)) {
        for (const QString& name : displayVariables)
            env.remove(name);
    } else {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    const QProcessEnvironment own = scene.environment();
    for (const QString& key : own.keys())
        env.insert(key, own.value(key));
    return env;
}

bool UpdaterRun::start(const Scene& scene, const QStringList& args)
{
    m_process.setProcessEnvironment(environment(scene, args));
    m_process.setWorkingDirectory(scene.client());
    // Waits return as soon as a log line comes.
    m_process.setReadChannel(QProcess::StandardError);
    m_process.start(scene.client() + QStringLiteral("/update"), args);
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
    // A run seen to end already is not waited for: waiting would report a failure.
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
        killHard();
        return -1;
    }
    readAvailable();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

bool UpdaterRun::stillRunning()
{
    // Without an event loop the process object learns of output and of the
    // end only while it waits.
    if (m_process.state() != QProcess::NotRunning)
        m_process.waitForFinished(0);
    readAvailable();
    return m_process.state() != QProcess::NotRunning;
}

void UpdaterRun::killHard()
{
    m_process.kill(); // SIGKILL: no clean-up code of the updater runs
    m_process.waitForFinished(10000);
    readAvailable();
}

void UpdaterRun::signal(int signalNumber) const
{
    ::kill(pid_t(m_process.processId()), signalNumber);
}

void UpdaterRun::readAvailable()
{
    m_err += m_process.readAllStandardError();
    m_out += m_process.readAllStandardOutput();
}

QString UpdaterRun::log()
{
    readAvailable();
    return QString::fromUtf8(m_err);
}

QString UpdaterRun::out()
{
    readAvailable();
    return QString::fromUtf8(m_out);
}

QString UpdaterRun::both()
{
    return log() + QStringLiteral("\nstandard output:\n") + out();
}

QByteArray UpdaterRun::bytes()
{
    readAvailable();
    return m_err + m_out;
}

ToolProcess::Result UpdaterRun::runToEnd(const Scene& scene, const QStringList& args)
{
    UpdaterRun run;
    if (!run.start(scene, args))
        return {};
    const int exitCode = run.waitForExit(runTimeoutMs);
    return {exitCode, run.out(), run.log()};
}
