// The real updater binary run as a child process in a scene's client
// directory, with its log lines read as they come.
#pragma once

#include <functional>

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "toolprocess.h"

class Scene;

class UpdaterRun final {
public:
    UpdaterRun() = default;
    ~UpdaterRun();
    UpdaterRun(const UpdaterRun&) = delete;
    UpdaterRun& operator=(const UpdaterRun&) = delete;

    // Starts the scene's client/update with args, in the environment below.
    bool start(const Scene& scene, const QStringList& args);
    // Before start(): what the child does between fork and exec (limits).
    void setChildProcessModifier(const std::function<void()>& modifier)
    {
        m_process.setChildProcessModifier(modifier);
    }
    // Waits until the log holds text; false when the run ends or time runs out first.
    bool waitForLog(const QString& text, int timeoutMs);
    // Waits for the end; the exit code, or -1 after a crash or the time-out
    // (the process is killed then).
    int waitForExit(int timeoutMs);
    // Ends the run at once, as a power cut or the task manager would.
    void killHard();
    // Sends signalNumber, as a terminal or a service manager would.
    void signal(int signalNumber) const;
    // Takes in what the run wrote so far and whether it has ended, without
    // waiting; true while the updater still runs.
    bool stillRunning();

    // What the updater wrote so far: its log (standard error, where both
    // front-ends write their log lines) and its standard output.
    QString log();
    QString out();
    // Both, for a failure message.
    QString both();
    // Both as the bytes written, log first.
    QByteArray bytes();

    // The scene's environment on top of the test's own. The window forms
    // run on the offscreen platform; the console forms (--console, --check,
    // --help, --version, anywhere among args) with no display and no
    // platform plugin named, as scripts and servers run them.
    static QProcessEnvironment environment(const Scene& scene, const QStringList& args);
    // One run to its end: its exit code, standard output and log.
    static ToolProcess::Result runToEnd(const Scene& scene, const QStringList& args);

private:
    void readAvailable();

    QProcess m_process;
    QByteArray m_err;
    QByteArray m_out;
};
