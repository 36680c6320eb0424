// The update engine: drives one update session for the main window and owns
// the program's one network access manager.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

#include "update/filespecifications.h"
#include "update/updatestage.h"

class Configuration;
class MainTaskSpecification;
class Mirrors;
class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryDir;
class QTimer;

/// Drives one update session at a time: prepares the temporary directory and
/// the session record, runs the update and reports progress, log lines,
/// errors and the outcome through its signals. Also fetches the advertising
/// banner. Every download of the program goes through the engine's network
/// access manager, so the proxy of "update.ini" applies to all of them.
/// GUI thread only.
class UpdateEngine final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(UpdateEngine)

public:
    enum EngineState {
        EngineIdle = 0,
        EngineInitialized = 1,
        EngineRunning = 2,
        EngineFinished = 3,
        EngineCanceled = 4,
    };

    /// The configuration is not owned and must outlive the engine. An invalid
    /// proxy in "update.ini" is reported through fatalError once control is
    /// back in the event loop, so listeners connected after construction hear it.
    UpdateEngine(Configuration& configuration, QObject* parent);
    ~UpdateEngine() override;

    /// Prepares a session: checks the signature library and "mirrors.ini",
    /// continues in or clears the temporary directory of an earlier session,
    /// writes the session record and loads the mirrors. False after a
    /// fatalError; the state is then unchanged.
    bool initialize();
    /// Runs the update prepared by a successful initialize(). Always true; the
    /// outcome arrives as updateFinished or updateCanceled.
    bool startUpdate();
    /// Prepares a check: what an update to the configured version would do,
    /// found without changing anything. The product ini goes to a scratch
    /// directory that the check removes; the session directory and record
    /// are only read, so downloads an interrupted update verified count as
    /// done. False after a fatalError.
    bool initializeCheck();
    /// Runs the check prepared by initializeCheck(). Always true; listsCompiled
    /// then checkFinished follow, or updateCanceled when it fails.
    bool startCheck();
    /// The stage of the running update or check.
    UpdateStage stage() const;
    /// True while a session is prepared or running.
    bool busy() const;
    /// Back to idle after a cancelled update; an update still held is
    /// disconnected and deleted.
    void reset();
    /// Starts fetching the banner unless an image download is already pending;
    /// the result arrives through bannerFound.
    void getBanner();

    /// Removes the temporary directory of the session and the session record.
    void cleanup();
    /// Deletes everything below path: files and directories, hidden ones
    /// included. Symbolic links are neither followed nor deleted. Silent.
    static void cleanupDirectory(const QString& path);
    /// Deletes, in dir, the "_old_" copies of the updater's own files that an
    /// earlier self-update renamed because they were in use. Missing files and
    /// failed deletions are silent.
    static void removeOldFiles(const QString& dir);
    /// removeOldFiles for the program's directory and its two plug-in folders.
    static void removeSelfUpdateLeftovers();

signals:
    void fatalError(QString errorMessage);
    void error(QString errorMessage);
    void updateProgress(qreal doneFrac);
    void downloadProgress(quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading);
    void message(QString message);
    void updateFinished();
    void updateCanceled();
    /// The running update or check has compared the release with the installation.
    void listsCompiled(WorkListSummary summary);
    /// A check has ended; its scratch directory is gone.
    void checkFinished();
    void bannerFound(QByteArray bannerImage, QString clickUrl);

public slots:
    /// Asks a running update to stop; it ends with updateCanceled. Does
    /// nothing unless an update runs.
    void cancelUpdate();

private slots:
    void onTimer();
    void onTaskFinished();
    void onTaskCanceled();
    void onBannerFound(QString bannerUrl, QString clickUrl);
    void onBannerDownloadFinished();
    void onBannermetaDataChanged();
    void onBannerDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);

private:
    // False after an invalid proxy setting, which is reported once the
    // event loop runs.
    bool applyProxy();
    // What every session needs: the signature library, "mirrors.ini" and a
    // seeded random source. False after a fatalError.
    bool prepareSession();
    // The recorded session directory, its version and the directory as
    // recorded; empty when there is no usable record. A directory that is
    // not this user's alone (see isPrivateDirectory), or that another
    // installation made, is never handed out; whyNotUsed then says which.
    QString recordedSession(int* version, QString* recorded = nullptr, QString* whyNotUsed = nullptr) const;
    bool loadMirrors();
    void startTask(MainTaskSpecification* task);
    // Empties the session directory dir and removes it; the result is
    // logged when report is set.
    void removeSessionDirectory(const QString& dir, bool report);
    void releaseMainTask();
    // Gives up the session's registry: with the main task that uses it, or
    // at once when there is none.
    void releaseMirrors();
    void dropBannerDownload();

    EngineState state = EngineIdle;
    Configuration* configuration;
    // The registry of the session prepared or running; null before and after.
    Mirrors* mirrors = nullptr;
    MainTaskSpecification* mainTask = nullptr;
    QTimer* timer;
    QNetworkAccessManager* networkManager;
    // The scratch directory of a check, while one is prepared or runs: set
    // exactly then.
    std::unique_ptr<QTemporaryDir> checkDir;
    QString checkDownloadsDir;
    QString bannerClickUrl;
    QNetworkReply* bannerReply = nullptr;
};
