// Loopback HTTP/1.1 server for tests and benchmarks: answers scripted per
// path, records every request it sees.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class QTcpServer;
class QThread;

/*!
    A small HTTP/1.1 server on 127.0.0.1 and a free port.

    A test scripts one Answer per path: the status line, headers, a body and
    how the body is delivered (a delay before the headers, a stall or a dropped
    connection after some bytes, a slow drip). Paths without an answer get 404.
    Requests in origin form ("GET /a HTTP/1.1") and in absolute form ("GET
    http://host/a HTTP/1.1", as a client sends them to a proxy) are answered by
    the same path, so the server can also stand in for a proxy.

    Connections are kept alive while answers carry a Content-Length; without
    one, the server closes the connection after the body to mark its end.
    Note that Qt's network stack may send a request again when its connection
    is dropped mid-body, and may even take such a short body for a clean end.
    A generated body is produced while it is sent and never held in memory,
    so gigabyte answers are cheap; its bytes are generatedBytes().

    The server works in the thread it lives in. setAnswer() and the request
    log may be used from any thread (a benchmark runs the server in its own).
*/
class TestHttpServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(TestHttpServer)

public:
    using Header = QPair<QByteArray, QByteArray>;

    struct Answer {
        int status = 200;
        QByteArray reason; // empty: the usual phrase for status
        QList<Header> headers; // sent as given, before Content-Length
        QByteArray body;
        qint64 generatedSize = -1; // >= 0: body is generatedBytes(0, generatedSize)
        bool sendContentLength = true;
        int headerDelayMs = 0; // silence before the status line
        qint64 stallAfter = -1; // >= 0: send this many body bytes, then nothing, keep the connection
        qint64 dropAfter = -1; // >= 0: send this many body bytes, then abort the connection
        int dripBytes = 0; // > 0: send the body in pieces of this size,
        int dripIntervalMs = 0; //    one piece every dripIntervalMs
        qint64 headerPadding = 0; // > 0: this many bytes of "X-Padding" lines lead the headers,
                                  //     made while they are sent, however many gigabytes
        QByteArray rawHead; // non-empty: sent as given instead of the status line and headers

        qint64 bodySize() const { return generatedSize >= 0 ? generatedSize : body.size(); }

        static Answer ok(const QByteArray& body);
        static Answer generated(qint64 size);
        static Answer withStatus(int status, const QByteArray& body = {});
        static Answer redirect(int status, const QByteArray& location);
        // 401 with a Basic challenge.
        static Answer authenticationRequired();
    };

    struct Request {
        QByteArray requestLine; // without the line break
        QByteArray method;
        QByteArray target; // as sent: "/a?b" or "http://host:1/a?b"
        QString path; // decoded path of the target, without query
        QList<Header> headers;

        // Value of the first header of that name (any letter case), or empty.
        QByteArray header(const QByteArray& name) const;
    };

    explicit TestHttpServer(QObject* parent = nullptr);
    ~TestHttpServer() override;

    // Listens on 127.0.0.1 at a free port; call in the server's own thread.
    bool listen();
    // A server listening in thread (started here), so that clients measured
    // against it do not share its event loop; it is deleted when the thread
    // finishes. Null when it cannot listen.
    static TestHttpServer* startInThread(QThread& thread);
    quint16 port() const { return listenPort; }
    // "http://127.0.0.1:<port>", without a trailing slash.
    QString baseUrl() const;

    void setAnswer(const QString& path, const Answer& answer);
    Answer answerFor(const QString& path) const;

    QList<Request> requests() const;
    // The paths of all requests so far, in order of arrival.
    QStringList requestedPaths() const;
    // Connections accepted so far.
    int connectionCount() const;
    int requestCount(const QString& path) const;
    void clearRequests();

    // The bytes of a generated body from offset on: a fixed pattern with a
    // prime period, so misplaced or lost chunks show up in a comparison.
    static QByteArray generatedBytes(qint64 offset, qint64 length);

signals:
    // A request has been read completely; its answer starts now.
    void requestReceived(const QString& path);

private:
    void onNewConnection();
    friend class TestHttpConnection;
    void record(const Request& request);

    QTcpServer* server;
    quint16 listenPort = 0;
    mutable QMutex mutex;
    QHash<QString, Answer> answers;
    QList<Request> log;
    int connections = 0;
};
