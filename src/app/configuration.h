// The one configuration of an updater run: what to install, from which
// channel, how to download it, and the fixed names of the installation.
#pragma once

#include "updatechannel.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;
class UserQuestions;
struct UpdateParameters;

class Configuration final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(Configuration)

public:
    /// Unattended: started with "--nouser" and its parameters resolved; the
    /// update then starts by itself, and so does the client after it.
    enum class RunMode { Interactive = 0, Unattended = 1 };
    Q_ENUM(RunMode)

    explicit Configuration(QObject* parent = nullptr);

    /// Resolves the run's parameters from the application's arguments,
    /// "update.ini" and, without a version, the update server. False when they
    /// cannot be resolved; a reason, if any, went out through fatalError.
    bool parseCommandLineOptions();
    /// The same for an explicit argument list (position 0 is the program).
    bool parseCommandLineOptions(const QStringList& arguments);

    void getUpdateChannel();
    bool getClientTypeVersion(const QStringList& arguments, int index);
    bool getClientVersionFromString(const QString& text, const QString& errorFormat);
    bool getDefaultParameters();
    /// Asks the update server while it fails and the questions say to try
    /// again. Returns (version number text, display text), both empty when
    /// it gave up.
    QPair<QString, QString> getLatestClientVersion(UpdateChannel channel, QString& news);
    void getProxyAndDownloadConcurrency();
    /// Uses dir as the temporary directory, or creates a fresh one when dir is empty.
    bool initializeStart(const QString& dir);
    /// Makes a fresh private directory tempDirPrefix() + n below the system's
    /// temporary folder (TMPDIR), for the smallest free n below 1000; false
    /// after a fatalError that names the folder and the cause.
    bool createTempDir();
    /// "corvane_temp_<tag>_", the start of the names of this installation's
    /// temporary directories; the tag is derived from the client directory,
    /// so that no other installation makes or takes over such a directory.
    static QString tempDirPrefix();
    /// "Cannot create a temporary directory in <parent>: <reason>. ..." with
    /// a hint at TMPDIR; errorCode is an errno value.
    static QString tempDirFailure(const QString& parent, int errorCode);

    /// The client directory that an update changes: the program's own directory.
    static QString getAppRootPath();
    /// Points getAppRootPath() at another directory; tests use it to keep their
    /// client directory in a temporary folder. An empty path restores the default.
    static void setAppRootPathOverride(const QString& path);
    static QString getUpdateType();
    static QString getClientBinaryName();
    /// The updater's own files, which an update renames instead of overwriting.
    static const QStringList& getSpecialFileNames();
    static bool isSpecialFileName(const QString& name);
    static const QString& getSpecialFileRenamePrefix();

    /// Who is asked when the update server does not answer; not owned. Without
    /// one, the first failed query gives up.
    void setQuestions(UserQuestions* questions);
    /// Whether a version named on the command line (or as alphaRevno in
    /// "update.ini") may be older than the installed one: the user's choice
    /// in the window (the default), only with --allow-downgrade on the
    /// console. A version from the network never may.
    void setLocalDowngradeAllowed(bool allowed) { localDowngradeAllowed = allowed; }
    /// The manager (and with it the proxy) through which the release
    /// statement is fetched from the mirrors; not owned. Without one no
    /// statement is asked for, and the update server alone names the version.
    void setNetworkAccessManager(QNetworkAccessManager* manager);

    /// The values the stages of an update need, taken when it starts.
    UpdateParameters updateParameters() const;

    RunMode runMode() const { return m_runMode; }
    UpdateChannel channel() const { return m_channel; }
    QString clientType() const { return m_clientType; }
    /// The version number to install; 0 while none is set.
    int clientVersion() const { return m_clientVersion; }
    /// The version's display text; empty for none.
    QString versionString() const { return m_versionString; }
    /// The news text for the ticker.
    QString news() const { return m_news; }
    /// The temporary directory of the current update, absolute.
    QString tempDir() const { return m_tempDir; }
    /// The proxy as written in "update.ini"; empty for none.
    QString proxy() const { return m_proxy; }
    /// Files downloaded at once: at least 1 once "update.ini" was read, 0 before.
    int downloadConcurrency() const { return m_downloadConcurrency; }
    /// The version to install came from the network (the update server or a
    /// release statement), not from the command line or "update.ini".
    bool versionFromNetwork() const { return m_versionFromNetwork; }
    /// The last parseCommandLineOptions() refused the version information
    /// (see refused); the run ends with ExitCode::refused.
    bool versionRefused() const { return m_versionRefused; }
    /// When the version came from a release statement: the SHA-256 of the
    /// product ini it names (32 bytes), and when it was issued. Empty and
    /// invalid otherwise.
    QByteArray productIniSha256() const { return m_productIniSha256; }
    QDateTime statementIssued() const { return m_statementIssued; }

    /// For a run whose parameters are settled elsewhere than on the command line.
    void setRunMode(RunMode mode) { m_runMode = mode; }
    void setChannel(UpdateChannel channel) { m_channel = channel; }
    void setClientType(const QString& type) { m_clientType = type; }
    void setClientVersion(int version) { m_clientVersion = version; }
    void setVersionString(const QString& text) { m_versionString = text; }
    void setNews(const QString& text) { m_news = text; }

signals:
    void fatalError(QString errorMessage);
    void message(QString message);
    /// The version information cannot be trusted to move the client forward,
    /// for the reason given ("Refusing to go back from version 5 to 3"):
    /// nothing is to be fetched or changed.
    void refused(QString reason);

private:
    enum class Statement { None, Followed, Refused, Interrupted };

    bool resolveParameters(const QStringList& arguments);
    // Asks the mirrors for the release statement of the channel and takes
    // the version (and the news, if any) from it.
    Statement followReleaseStatement();
    // False, after refused, when the version would take the client back
    // without the user's say.
    bool acceptTarget();
    void refuse(const QString& reason);

    UserQuestions* questions = nullptr;
    bool localDowngradeAllowed = true;
    QPointer<QNetworkAccessManager> network;
    QByteArray m_productIniSha256;
    QDateTime m_statementIssued;
    bool m_versionFromNetwork = false;
    bool m_versionRefused = false;
    RunMode m_runMode = RunMode::Interactive;
    UpdateChannel m_channel = Stable;
    QString m_clientType;
    int m_clientVersion = 0;
    QString m_versionString;
    QString m_news;
    QString m_tempDir;
    QString m_proxy;
    int m_downloadConcurrency = 0;
};
