// Idle connections to web servers, kept after an answer for the next request
// to the same server.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

class QAbstractSocket;
class QUrl;

/// Owns the connections it keeps; a connection taken out belongs to the
/// taker. A connection the server closes while it waits here is dropped,
/// and so is one that has waited longer than servers usually keep them.
/// GUI thread only (the thread of the sockets).
class HttpConnectionPool final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionPool)

public:
    explicit HttpConnectionPool(QObject* parent = nullptr);
    ~HttpConnectionPool() override;

    /// What tells connections apart: scheme, host and port of url.
    static QString keyOf(const QUrl& url);
    /// An open connection for key, or null. The caller takes it over
    /// (parent, signals) and must not rely on the server still being there.
    QAbstractSocket* take(const QString& key);
    /// Keeps socket, whose last answer has been read completely, for key;
    /// beyond a few per server it is closed instead. The caller has
    /// disconnected its own slots from it.
    void keep(const QString& key, QAbstractSocket* socket);

private:
    struct Idle {
        QString key;
        QAbstractSocket* socket;
        QElapsedTimer since;
    };
    void drop(QAbstractSocket* socket);

    QList<Idle> idle;
};
