// The updater's only top-level window: shows what the update engine reports
// and lets the user start, restart or abort an update and start the client.
#pragma once

#include <QWidget>

#include "app/userquestions.h"
#include "ui_mainwindow.h"

class Configuration;
class UpdateEngine;

/// Owns the update engine and the single-instance server. The program entry
/// creates it before resolving the command line, then calls
/// setUIToConfigSpecs(), shows it and calls setNews(). A fatal error of the
/// configuration ends the event loop with 1, one of the engine with 2.
class MainWindow final : public QWidget, public UserQuestions {
    Q_OBJECT
    Q_DISABLE_COPY(MainWindow)

public:
    /// The configuration is not owned and must outlive the window.
    explicit MainWindow(Configuration& configuration);
    ~MainWindow() override;

    /// Shows the target version and channel; disables the start button in
    /// unattended runs, which start by themselves.
    void setUIToConfigSpecs();
    /// Hands the configuration's news text to the ticker.
    void setNews();
    /// The updater's error box: the translated title "Error" and one OK button.
    static void showError(QWidget* parent, const QString& errorMessage);
    /// Asks Retry or Abort in a message box.
    bool retryLatestVersionQuery(int failedTries) override;

public slots:
    void onFatalConfigError(QString errorMessage);
    /// The version information was refused: says why on standard error and
    /// in the error box; the program then ends with ExitCode::refused.
    void onVersionRefused(QString reason);
    void onFatalError(QString errorMessage);
    void onError(QString errorMessage);
    void onAutoStartUpdate();
    void on_startButton_clicked();
    void onAppendText(QString text);
    void onProgressUpdate(qreal doneFrac);
    /// Sizes in bytes, speed in bytes per second; shown in units of 1000.
    void onDownloadProgress(quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading);
    void onUpdateFinished();
    void onUpdateCanceled();
    void onOtherInstanceActivate(QString message);
    void onBannerFound(QByteArray bannerImage, QString clickUrl);
    void onDetailsPressed();
    void on_changelogButton_clicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Makes room for the widest figures and button texts, so the window
    // keeps one size however they change.
    void reserveSpace();

    Ui_MainWindow ui;
    Configuration* configuration;
    UpdateEngine* engine;
    bool updateDone = false;
    bool closeRequested = false;
};
