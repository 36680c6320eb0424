// The updater without a window: runs an update or a check from the command
// line and tells the outcome by its output and exit code.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <memory>

#include "app/userquestions.h"
#include "consoleoptions.h"
#include "consoletext.h"
#include "update/filespecifications.h"

class Configuration;
class ConsoleOutput;
class InstallationLock;
class UpdateEngine;

/// Drives the update engine as the window does, with the console's answers
/// to the window's questions: the update server is asked up to three times,
/// a failure ends the run with its exit code instead of a message box, and
/// SIGINT, SIGTERM or SIGHUP cancel the update like the window's cancel,
/// ending the program only once the cancel, rollback included, is done.
class ConsoleFrontEnd final : public QObject, public UserQuestions {
    Q_OBJECT
    Q_DISABLE_COPY(ConsoleFrontEnd)

public:
    /// Tries of the latest-version query before the run gives up.
    static constexpr int versionQueryTries = 3;

    /// Runs the console form of the command line in the running core
    /// application and returns the exit code; a usage error prints the usage
    /// to standard error and returns ExitCode::usage.
    static int run(const ConsoleOptions& options);

    /// The output is not owned and must outlive the front-end.
    ConsoleFrontEnd(const ConsoleOptions& options, ConsoleOutput& output);
    ~ConsoleFrontEnd() override;

    /// Resolves the configuration, runs the event loop until the update or
    /// check has ended, and returns the exit code.
    int exec();
    /// With --json, the last line: the result, the exit code, the versions,
    /// the files and bytes of the work.
    void writeJsonResult(int exitCode) const;
    bool retryLatestVersionQuery(int failedTries) override;

private slots:
    void onStart();
    void onMessage(QString message);
    void onError(QString errorMessage);
    void onFatalConfigError(QString errorMessage);
    void onVersionRefused(QString reason);
    void onFatalError(QString errorMessage);
    void onUpdateProgress(qreal doneFrac);
    void onDownloadProgress(quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading);
    void onListsCompiled(WorkListSummary summary);
    void onUpdateFinished();
    void onCheckFinished();
    void onUpdateCanceled();
    void onSignal(int signalNumber);

private:
    int resolveFailureCode();
    // A fatal error: ends the run with exitCode, after the cancel of a running update.
    void fail(int exitCode, const QString& errorMessage);
    void end(int exitCode);
    // Says why the run failed: with --quiet the last log lines first.
    void reportFailure(const QString& errorMessage);
    void drawProgress(bool force);
    void writeJsonProgress();
    QString stageName() const;
    // "Update" or "Check".
    QString what() const;
    QString targetVersion() const;

    ConsoleOptions options;
    ConsoleOutput& output;
    // Held from the start of an update until the front-end is gone.
    std::unique_ptr<InstallationLock> lock;
    std::unique_ptr<Configuration> configuration;
    // Declared after the configuration it refers to, so it goes first.
    std::unique_ptr<UpdateEngine> engine;

    ConsoleText::Progress progress;
    WorkListSummary work;
    QElapsedTimer sinceStart;
    QElapsedTimer sinceEvent;
    QElapsedTimer sinceDraw;
    // With --quiet, the last log lines, shown when the update fails.
    QStringList recentLines;
    int failureCode = 0;
    int cancelSignal = 0;
    bool versionQueryGaveUp = false;
    bool looping = false;
    bool running = false;
    bool ending = false;
};
