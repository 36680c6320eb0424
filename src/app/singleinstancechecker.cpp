// The single-instance guard over a local socket private to the user.
#include "singleinstancechecker.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr int waitMs = 1000;

} // namespace

SingleInstanceChecker::SingleInstanceChecker(QObject* parent)
    : QObject(parent)
    , server(new QLocalServer(this))
{
    connect(server, &QLocalServer::newConnection, this, &SingleInstanceChecker::onNewConnection);
    server->setSocketOptions(QLocalServer::UserAccessOption);

    // Listening with private access replaces whatever file holds the name,
    // even the socket of a live updater that started since our own probe in
    // the entry point. So look first: a live updater keeps its name (and we
    // stay unreachable, as any second guard would); a file nobody answers on
    // is what a crashed updater left behind, and it must go, or no later
    // start could ever find us.
    const QString name = getLocalServerName();
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(waitMs))
        return;
    QLocalServer::removeServer(name);
    server->listen(name);
}

SingleInstanceChecker::~SingleInstanceChecker()
{
    server->close();
    if (connection)
        connection->close();
}

bool SingleInstanceChecker::checkExistingInstance(const QString& message)
{
    QLocalSocket socket;
    socket.connectToServer(getLocalServerName(), QIODevice::ReadWrite);
    if (!socket.waitForConnected(waitMs))
        return false;
    if (socket.write(message.toLatin1()) <= 0)
        return false;
    return socket.waitForBytesWritten(waitMs);
}

QString SingleInstanceChecker::getLocalServerName()
{
    return localServerNameFor(QCoreApplication::applicationFilePath(), QDir::homePath());
}

QString SingleInstanceChecker::localServerNameFor(const QString& applicationFilePath, const QString& homePath)
{
    QString key = applicationFilePath.toLower() + homePath;
    key.remove(QLatin1Char('/'));
    key.remove(QLatin1Char(':'));
    const quint16 checksum = qChecksum(key.toUtf8());
    return QStringLiteral("DAVUzodurUpdate") + QString::number(checksum, 16);
}

void SingleInstanceChecker::onNewConnection()
{
    if (connection) {
        delete connection;
        connection = nullptr;
    }
    connection = server->nextPendingConnection();
    if (connection)
        connect(connection, &QLocalSocket::readyRead, this, &SingleInstanceChecker::onReadyRead);
}

void SingleInstanceChecker::onReadyRead()
{
    if (!connection)
        return;
    QByteArray bytes = connection->readAll();
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    // Only what arrived with the first readyRead counts; the connection is
    // dropped once control is back in the event loop.
    QLocalSocket* done = connection;
    connection = nullptr;
    done->disconnect(this);
    done->deleteLater();
    Q_EMIT otherInstanceActivate(QString::fromLatin1(bytes));
}
