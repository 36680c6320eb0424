// The update engine: drives one update session for the main window and owns
// the program's one network access manager.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class Configuration;
class MainTaskSpecification;
class Mirrors;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

/*!
    Drives one update session at a time: prepares the temporary directory and
    the session record, runs the update and reports progress, log lines,
    errors and the outcome through its signals. Also fetches the advertising
    banner. Every download of the program goes through the engine's network
    access manager, so the proxy of "update.ini" applies to all of them.
    GUI thread only.
*/
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

    // The configuration is not owned and must outlive the engine. An invalid
    // proxy in "update.ini" is reported through fatalError once control is
    // back in the event loop, so listeners connected after construction hear it.
    UpdateEngine(Configuration& configuration, QObject* parent);

    // Prepares a session: checks the signature library and "mirrors.ini",
    // continues in or clears the temporary directory of an earlier session,
    // writes the session record and loads the mirrors. False after a
    // fatalError; the state is then unchanged.
    bool initialize();
    // Runs the update prepared by a successful initialize(). Always true; the
    // outcome arrives as updateFinished or updateCanceled.
    bool startUpdate();
    // True while a session is prepared or running.
    bool busy() const;
    // Back to idle after a cancelled update; an update still held is
    // disconnected and deleted.
    void reset();
    // Starts fetching the banner unless an image download is already pending;
    // the result arrives through bannerFound.
    void getBanner();

    // Removes the temporary directory of the session and the session record.
    void cleanup();
    // Deletes everything below path: files and directories, hidden ones
    // included. Symbolic links are neither followed nor deleted. Silent.
    static void cleanupDirectory(const QString& path);
    // Deletes, in dir, the "_old_" copies of the updater's own files that an
    // earlier self-update renamed because they were in use. Missing files and
    // failed deletions are silent.
    static void removeOldFiles(const QString& dir);

signals:
    void fatalError(QString errorMessage);
    void error(QString errorMessage);
    void updateProgress(qreal doneFrac);
    void downloadProgress(quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading);
    void message(QString message);
    void updateFinished();
    void updateCanceled();
    void bannerFound(QByteArray bannerImage, QString clickUrl);

public slots:
    // Asks a running update to stop; it ends with updateCanceled. Does
    // nothing unless an update runs.
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
    void applyProxy();
    // Empties the session directory dir and removes it; the result is
    // logged when report is set.
    void removeSessionDirectory(const QString& dir, bool report);
    void releaseMainTask();
    void dropBannerDownload();

    EngineState state = EngineIdle;
    Configuration* configuration;
    Mirrors* mirrors = nullptr;
    MainTaskSpecification* mainTask = nullptr;
    QTimer* timer;
    QNetworkAccessManager* networkManager;
    QString bannerClickUrl;
    QNetworkReply* bannerReply = nullptr;
};
