// The change log dialog: fetches the change log of a client version from a
// mirror picked at random and shows it as monospaced plain text.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;
class QTextEdit;
class QTimer;

/// A non-modal dialog that deletes itself when closed. It reads its
/// candidates from the client directory itself (the alpha URL of update.ini,
/// or else every mirror of mirrors.ini) and tries each at most once, in
/// random order, until one delivers the log. At most one exists at a time.
/// GUI thread only.
class ChangeLogViewer final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY(ChangeLogViewer)

public:
    /// Opens the viewer for version, or brings the open one to the front
    /// (then version is ignored and nothing is fetched again).
    static void showRemoteChangeLogDialog(QWidget* parent, const QString& version);
    /// The open viewer, or null.
    static ChangeLogViewer* instance() { return m_instance; }

    explicit ChangeLogViewer(QWidget* parent = nullptr);
    ~ChangeLogViewer() override;

    /// Asks the next candidate for the change log of version; an empty version
    /// keeps the one of the previous call. Ignored while a request runs.
    void requestRemote(QString version);
    /// The next base URL to try, or an empty string when none is left.
    QString getRemoteUrl();
    /// Takes a random candidate out of the list; empty when none is left.
    QString getRandomMirror();
    /// Shows text as plain text (markup in it is shown as written) and sizes
    /// the dialog to its longest line.
    void load(const QString& text);

    /// The most of a change log that is fetched and shown; a longer one is
    /// cut at the last line break before, with a line that says so.
    static constexpr qint64 maxChangeLogBytes = 1024 * 1024;

private slots:
    void onRequestReadyRead();
    void onRequestFinished();
    void onRequestTimeout();

private:
    // Adds what from holds to received; true once it holds more than is shown.
    bool takeFrom(QNetworkReply* from);

    QTextEdit* textEdit;
    QNetworkAccessManager* networkManager = nullptr;
    QNetworkReply* reply = nullptr;
    // What the request in flight has brought so far, at most one byte beyond
    // maxChangeLogBytes; cut once that byte has come.
    QByteArray received;
    bool cut = false;
    QTimer* timeoutTimer = nullptr;
    QStringList mirrorUrls;
    bool mirrorsLoaded = false;
    QString version;

    static ChangeLogViewer* m_instance;
};
