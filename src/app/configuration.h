// The one configuration of an updater run: what to install, from which
// channel, how to download it, and the fixed names of the installation.
#pragma once

#include "updatechannel.h"

#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class UserQuestions;
struct UpdateParameters;

class Configuration final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(Configuration)

public:
    explicit Configuration(QObject* parent = nullptr);

    // Resolves the run's parameters from the application's arguments,
    // "update.ini" and, without a version, the update server. False when they
    // cannot be resolved; a reason, if any, went out through fatalError.
    bool parseCommandLineOptions();
    // The same for an explicit argument list (position 0 is the program).
    bool parseCommandLineOptions(const QStringList& arguments);

    void getUpdateChannel();
    bool getClientTypeVersion(const QStringList& arguments, int index);
    bool getClientVersionFromString(const QString& text, const QString& errorFormat);
    bool getDefaultParameters();
    // Asks the update server while it fails and the questions say to try
    // again. Returns (version number text, display text), both empty when
    // it gave up.
    QPair<QString, QString> getLatestClientVersion(UpdateChannel channel, QString& news);
    void getProxyAndDownloadConcurrency();
    // Uses dir as the temporary directory, or creates a fresh one when dir is empty.
    bool initalizeStart(const QString& dir);
    bool createTempDir();

    // The client directory that an update changes: the program's own directory.
    static QString getAppRootPath();
    // Points getAppRootPath() at another directory; tests use it to keep their
    // client directory in a temporary folder. An empty path restores the default.
    static void setAppRootPathOverride(const QString& path);
    static QString getUpdateType();
    static QString getClientBinaryName();
    // The updater's own files, which an update renames instead of overwriting.
    static const QStringList& getSpecialFileNames();
    static bool isSpecialFileName(const QString& name);
    static const QString& getSpecialFileRenamePrefix();

    // Who is asked when the update server does not answer; not owned. Without
    // one, the first failed query gives up.
    void setQuestions(UserQuestions* questions);

    // The values the stages of an update need, taken when it starts.
    UpdateParameters updateParameters() const;

    int runMode = 0;
    UpdateChannel channel = Stable;
    QString clientType;
    int clientVersion = 0;
    QString versionString;
    QString news;
    QString tempDir;
    QString proxy;
    int downloadConcurrency = 0;

Q_SIGNALS:
    void fatalError(QString errorMessage);
    void message(QString message);

private:
    UserQuestions* questions = nullptr;
};
