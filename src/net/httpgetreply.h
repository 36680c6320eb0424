// One GET request over HTTP/1.1 with a bounded response head, as a network
// reply of the toolkit.
#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QPointer>
#include <QString>

class HttpConnectionPool;
class QAbstractSocket;

/// Made by UpdaterNetworkManager for a GET sent without a proxy. It reports what
/// the toolkit's replies report (status and reason attributes, headers,
/// readyRead, downloadProgress, metaDataChanged, errorOccurred, finished;
/// an error for a status of 400 and above, after its body), with these
/// differences: a response head (status line, headers, interim answers and
/// the trailer of a chunked body) larger than
/// maxResponseHeadBytes ends the transfer with
/// ProtocolFailure as soon as it is seen; redirects are never followed;
/// credentials in the URL answer a Basic challenge once; error texts name
/// the address without its password. Reading is on the thread of the
/// reply: at most the read buffer size (unlimited when 0) waits for the
/// caller, and the server waits while it is full. A connection whose answer
/// ended cleanly is kept for the next request to the server; a kept one
/// that turns out closed is replaced once, before any of its answer came.
/// The pool is not owned.
class HttpGetReply final : public QNetworkReply {
    Q_OBJECT
    Q_DISABLE_COPY(HttpGetReply)

public:
    HttpGetReply(const QNetworkRequest& request, HttpConnectionPool* pool, QObject* parent);
    ~HttpGetReply() override;

    void abort() override;
    void close() override;
    qint64 bytesAvailable() const override;
    void setReadBufferSize(qint64 size) override;

    /// Bytes of status lines and headers (of interim answers and of the
    /// trailer of a chunked body too) beyond which an answer is refused.
    static constexpr qint64 maxResponseHeadBytes = 64 * 1024;

protected:
    qint64 readData(char* data, qint64 maxSize) override;

private:
    enum class Phase { Connecting, Head, Body, Done };
    enum class Framing { Empty, Length, Chunked, UntilClose };
    enum class Chunk { Size, Data, DataEnd, Trailer };

    void start();
    // A new connection, or a kept one for the same server.
    void openConnection();
    void sendRequest();
    void onSocketDisconnected();
    void onSocketError();
    // The connection has ended and nothing of it is left to read.
    void serverGone();
    // Sends the request again on a new connection when the kept one it went
    // out on was closed before answering; false when that does not apply.
    bool replaceStaleConnection();
    // Reads what the socket and the read buffer allow; schedules itself again
    // when the caller has made room.
    void pump();
    // One step with the bytes in hand: true when it got anywhere.
    bool step();
    bool stepHead();
    bool stepBody();
    bool stepChunked();
    // A line of the chunk framing from pending, or false when none is whole yet.
    bool takeLine(QByteArray* line);
    // Applies a complete head; false after fail().
    bool takeHead(const QByteArray& head);
    bool retryWithCredentials(const QByteArray& challenge);
    void endOfBody();
    void fail(NetworkError code, const QString& text);
    // The head has grown past maxResponseHeadBytes.
    void failHeadTooLarge();
    void finishReply();
    // Finished, then readChannelFinished and finished, as a receiver allows.
    void announceEnd();
    // Gives the connection up: to the pool when reusable, closed otherwise.
    void releaseSocket(bool reusable);
    QString shownUrl() const;

    QPointer<HttpConnectionPool> pool;
    QAbstractSocket* socket = nullptr;
    Phase phase = Phase::Connecting;
    // The connection came from the pool and has not yet brought a byte.
    bool reusedConnection = false;
    bool replacedStaleConnection = false;
    bool sentCredentials = false;
    // The server has closed the connection; what it sent may still be read.
    bool peerGone = false;
    // Read from the socket, not yet taken apart.
    QByteArray pending;
    // Head bytes of this answer so far, interim answers and trailer included.
    qint64 headBytes = 0;
    int status = 0;
    bool keepAlive = false;
    Framing framing = Framing::Empty;
    Chunk chunk = Chunk::Size;
    // Length: body bytes still to come; Chunked: bytes left of the current chunk.
    qint64 remaining = 0;
    qint64 received = 0;
    // Received bytes that readyRead has been emitted for.
    qint64 announced = 0;
    qint64 total = -1;
    // Decoded body bytes; those from bodyRead on are the caller's to read.
    QByteArray body;
    qint64 bodyRead = 0;
    qint64 bufferLimit = 0;
    bool pumpQueued = false;
};
