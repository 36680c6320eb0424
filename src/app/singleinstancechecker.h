// The single-instance guard: one updater per installation and user.
#pragma once

#include <QObject>

class QLocalServer;
class QLocalSocket;
class QString;

class SingleInstanceChecker final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(SingleInstanceChecker)

public:
    /// Starts listening for later starts of the same installation.
    explicit SingleInstanceChecker(QObject* parent = nullptr);
    ~SingleInstanceChecker() override;

    /// Hands message to a running updater of this installation and user.
    /// True when one accepted it; blocks for up to 2 x 1000 ms.
    static bool checkExistingInstance(const QString& message);
    static QString getLocalServerName();
    /// The socket name for an updater at applicationFilePath run by the user
    /// whose home is homePath.
    static QString localServerNameFor(const QString& applicationFilePath, const QString& homePath);

signals:
    void otherInstanceActivate(QString message);

private slots:
    void onNewConnection();
    void onReadyRead();

private:
    QLocalServer* server = nullptr;
    QLocalSocket* connection = nullptr;
};
