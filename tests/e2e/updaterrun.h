// The real updater binary run as a child process in a client directory, with
// its log lines read as they come.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class UpdaterRun final {
public:
    UpdaterRun() = default;
    ~UpdaterRun();
    UpdaterRun(const UpdaterRun&) = delete;
    UpdaterRun& operator=(const UpdaterRun&) = delete;

    // Starts clientDir/update with args on the offscreen platform; env adds
    // to the test's own environment.
    bool start(const QString& clientDir, const QStringList& args, const QProcessEnvironment& env);
    // Waits until the log holds text; false when the run ends or time runs out first.
    bool waitForLog(const QString& text, int timeoutMs);
    // Waits for the end; the exit code, or -1 after a crash or the time-out
    // (the process is killed then).
    int waitForExit(int timeoutMs);
    // Ends the run at once, as a power cut or the task manager would.
    void killHard();
    // Takes in what the run wrote so far and whether it has ended, without
    // waiting; true while the updater still runs.
    bool stillRunning();

    // Everything the updater logged so far (standard error and output).
    QString log();

private:
    QProcess m_process;
    QString m_log;
};
