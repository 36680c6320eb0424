// Idle connections to web servers, kept for the next request.
#include "httpconnectionpool.h"

#include <QAbstractSocket>
#include <QUrl>

namespace {

// Web servers close idle connections after about a minute (nginx after 75 s);
// one kept longer would most likely fail its next request.
constexpr qint64 maxIdleMs = 50000;
// Transfers to one server rarely run more than a few at a time.
constexpr int maxIdlePerServer = 8;

} // namespace

HttpConnectionPool::HttpConnectionPool(QObject* parent)
    : QObject(parent)
{
}

HttpConnectionPool::~HttpConnectionPool()
{
    for (const Idle& entry : std::as_const(idle))
        disconnect(entry.socket, nullptr, this, nullptr);
}

QString HttpConnectionPool::keyOf(const QUrl& url)
{
    const int defaultPort = url.scheme() == QLatin1String("https") ? 443 : 80;
    return url.scheme() + QStringLiteral("://") + url.host(QUrl::FullyEncoded) + QLatin1Char(':')
        + QString::number(url.port(defaultPort));
}

QAbstractSocket* HttpConnectionPool::take(const QString& key)
{
    // The most recently kept first: the least likely to have been closed.
    for (qsizetype i = idle.size() - 1; i >= 0; --i) {
        if (idle.at(i).key != key)
            continue;
        const Idle entry = idle.takeAt(i);
        disconnect(entry.socket, nullptr, this, nullptr);
        if (entry.since.elapsed() > maxIdleMs || entry.socket->state() != QAbstractSocket::ConnectedState
            || entry.socket->bytesAvailable() > 0) {
            // Stale, closed, or holding bytes nobody asked for.
            entry.socket->deleteLater();
            continue;
        }
        entry.socket->setParent(nullptr);
        return entry.socket;
    }
    return nullptr;
}

void HttpConnectionPool::keep(const QString& key, QAbstractSocket* socket)
{
    int kept = 0;
    for (const Idle& entry : std::as_const(idle))
        kept += entry.key == key ? 1 : 0;
    if (kept >= maxIdlePerServer || socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->setParent(this);
    // Whatever the server sends to an idle connection (the end of it, mostly)
    // makes it useless.
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] { drop(socket); });
    connect(socket, &QAbstractSocket::readyRead, this, [this, socket] { drop(socket); });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] { drop(socket); });
    Idle entry {key, socket, {}};
    entry.since.start();
    idle.append(entry);
}

void HttpConnectionPool::drop(QAbstractSocket* socket)
{
    for (qsizetype i = 0; i < idle.size(); ++i) {
        if (idle.at(i).socket != socket)
            continue;
        idle.removeAt(i);
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        // Deferred: we may be inside one of its signals.
        socket->deleteLater();
        return;
    }
}
