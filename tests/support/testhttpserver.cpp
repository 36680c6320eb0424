// Loopback HTTP/1.1 server for tests and benchmarks.
#include "testhttpserver.h"

#include <algorithm>
#include <cstring>

#include <QHostAddress>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>

namespace {

// Bulk answers are written in pieces of this size and only while the socket
// holds less than the high-water mark, so a gigabyte body costs little memory.
constexpr qint64 pieceSize = 256 * 1024;
constexpr qint64 highWaterBytes = 1024 * 1024;

// A client that sees the data and the end of the connection in one go may
// take the close for a failure to answer and send the request again. A short
// pause before closing lets it read the answer first, so the request log
// stays exact.
constexpr int closeDelayMs = 50;

// A prime period: chunk boundaries of 4096 or 65536 bytes never line up with it.
constexpr int patternPeriod = 65521;

const QByteArray& patternTable()
{
    static const QByteArray table = [] {
        QByteArray bytes(patternPeriod, Qt::Uninitialized);
        quint32 x = 12345;
        for (int i = 0; i < patternPeriod; ++i) {
            x = x * 1103515245u + 12345u;
            bytes[i] = char(x >> 24);
        }
        return bytes;
    }();
    return table;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

// One client connection: reads requests one after another and plays the
// scripted answer of each.
class TestHttpConnection final : public QObject {
public:
    TestHttpConnection(TestHttpServer* owner, QTcpSocket* socket)
        : QObject(owner)
        , owner(owner)
        , socket(socket)
        , dripTimer(new QTimer(this))
    {
        socket->setParent(this);
        dripTimer->setSingleShot(true);
        dripTimer->setTimerType(Qt::PreciseTimer);
        connect(socket, &QTcpSocket::readyRead, this, &TestHttpConnection::onReadyRead);
        connect(socket, &QTcpSocket::bytesWritten, this, &TestHttpConnection::sendBulk);
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        connect(dripTimer, &QTimer::timeout, this, &TestHttpConnection::sendDrip);
    }

private:
    void onReadyRead()
    {
        input += socket->readAll();
        if (!answering)
            takeRequest();
    }

    // Starts the answer to the next complete request in the input, if any.
    void takeRequest()
    {
        const int headEnd = input.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QList<QByteArray> lines = input.left(headEnd).split('\n');
        TestHttpServer::Request request;
        request.requestLine = lines.value(0).trimmed();
        const QList<QByteArray> parts = request.requestLine.split(' ');
        request.method = parts.value(0);
        request.target = parts.value(1);
        request.path = QUrl::fromEncoded(request.target).path();
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.append(TestHttpServer::Header(
                    lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()));
        }
        // A request body is consumed but not kept; the tests only fetch.
        const qint64 contentLength = request.header("Content-Length").toLongLong();
        if (input.size() < headEnd + 4 + contentLength)
            return;
        input.remove(0, headEnd + 4 + contentLength);

        answering = true;
        answer = owner->answerFor(request.path);
        keepAlive = answer.sendContentLength
            && request.header("Connection").compare("close", Qt::CaseInsensitive) != 0;
        sent = 0;
        limit = answer.bodySize();
        if (answer.stallAfter >= 0)
            limit = std::min(limit, answer.stallAfter);
        if (answer.dropAfter >= 0)
            limit = std::min(limit, answer.dropAfter);
        owner->record(request);

        if (answer.headerDelayMs > 0)
            QTimer::singleShot(answer.headerDelayMs, this, &TestHttpConnection::sendHead);
        else
            sendHead();
    }

    void sendHead()
    {
        if (!answer.rawHead.isEmpty()) {
            socket->write(answer.rawHead);
            startBody();
            return;
        }
        socket->write("HTTP/1.1 " + QByteArray::number(answer.status) + ' '
            + (answer.reason.isEmpty() ? reasonPhrase(answer.status) : answer.reason) + "\r\n");
        paddingLeft = answer.headerPadding;
        continueHead();
    }

    // The padding lines as the socket takes them, then the rest of the head.
    void continueHead()
    {
        static const QByteArray line = "X-Padding: " + QByteArray(1011, 'a') + "\r\n";
        while (paddingLeft > 0 && socket->bytesToWrite() < highWaterBytes) {
            const qint64 piece = std::min<qint64>(paddingLeft, line.size());
            // A last piece shorter than a line still ends as one.
            socket->write(piece == line.size()
                    ? line
                    : "X: " + QByteArray(std::max<qint64>(0, piece - 5), 'a') + "\r\n");
            paddingLeft -= piece;
        }
        if (paddingLeft > 0)
            return;
        QByteArray head;
        for (const auto& header : std::as_const(answer.headers))
            head += header.first + ": " + header.second + "\r\n";
        if (answer.sendContentLength)
            head += "Content-Length: " + QByteArray::number(answer.bodySize()) + "\r\n";
        if (!keepAlive)
            head += "Connection: close\r\n";
        head += "\r\n";
        socket->write(head);
        startBody();
    }

    void startBody()
    {
        headSent = true;
        if (answer.dripBytes > 0)
            sendDrip();
        else
            sendBulk();
    }

    void sendBulk()
    {
        if (answering && !headSent && paddingLeft > 0) {
            continueHead();
            return;
        }
        if (!answering || !headSent || answer.dripBytes > 0)
            return;
        while (sent < limit && socket->bytesToWrite() < highWaterBytes)
            writeBody(std::min(pieceSize, limit - sent));
        if (sent >= limit)
            endBody();
    }

    void sendDrip()
    {
        writeBody(std::min<qint64>(answer.dripBytes, limit - sent));
        if (sent < limit)
            dripTimer->start(answer.dripIntervalMs);
        else
            endBody();
    }

    void writeBody(qint64 length)
    {
        if (length <= 0)
            return;
        socket->write(answer.generatedSize >= 0 ? TestHttpServer::generatedBytes(sent, length)
                                                : answer.body.mid(int(sent), int(length)));
        sent += length;
    }

    void endBody()
    {
        if (answer.stallAfter >= 0 && sent >= answer.stallAfter && sent < answer.bodySize())
            return; // stalled for good: the connection stays open and silent
        if (answer.dropAfter >= 0 && sent >= answer.dropAfter && sent < answer.bodySize()) {
            closeLater(); // what was promised is flushed, then the body ends early
            return;
        }
        answering = false;
        headSent = false;
        if (!keepAlive) {
            closeLater();
            return;
        }
        takeRequest();
    }

    void closeLater()
    {
        QTimer::singleShot(closeDelayMs, socket, [this] { socket->disconnectFromHost(); });
    }

    TestHttpServer* owner;
    QTcpSocket* socket;
    QTimer* dripTimer;
    QByteArray input;
    TestHttpServer::Answer answer;
    bool answering = false;
    bool headSent = false;
    bool keepAlive = true;
    qint64 paddingLeft = 0;
    qint64 sent = 0;
    qint64 limit = 0;
};

TestHttpServer::Answer TestHttpServer::Answer::ok(const QByteArray& body)
{
    Answer answer;
    answer.body = body;
    return answer;
}

TestHttpServer::Answer TestHttpServer::Answer::generated(qint64 size)
{
    Answer answer;
    answer.generatedSize = size;
    return answer;
}

TestHttpServer::Answer TestHttpServer::Answer::withStatus(int status, const QByteArray& body)
{
    Answer answer;
    answer.status = status;
    answer.body = body;
    return answer;
}

TestHttpServer::Answer TestHttpServer::Answer::redirect(int status, const QByteArray& location)
{
    Answer answer;
    answer.status = status;
    answer.headers.append(Header("Location", location));
    return answer;
}

TestHttpServer::Answer TestHttpServer::Answer::authenticationRequired()
{
    Answer answer;
    answer.status = 401;
    answer.headers.append(Header("WWW-Authenticate", "Basic realm=\"mirror\""));
    return answer;
}

QByteArray TestHttpServer::Request::header(const QByteArray& name) const
{
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return {};
}

TestHttpServer::TestHttpServer(QObject* parent)
    : QObject(parent)
    , server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
}

TestHttpServer::~TestHttpServer() = default;

TestHttpServer* TestHttpServer::startInThread(QThread& thread)
{
    auto* server = new TestHttpServer;
    server->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, server, &QObject::deleteLater);
    thread.start();
    bool listening = false;
    QMetaObject::invokeMethod(
        server, [&] { listening = server->listen(); }, Qt::BlockingQueuedConnection);
    return listening ? server : nullptr;
}

bool TestHttpServer::listen()
{
    if (!server->listen(QHostAddress::LocalHost, 0))
        return false;
    listenPort = server->serverPort();
    return true;
}

QString TestHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(listenPort);
}

void TestHttpServer::setAnswer(const QString& path, const Answer& answer)
{
    QMutexLocker lock(&mutex);
    answers.insert(path, answer);
}

TestHttpServer::Answer TestHttpServer::answerFor(const QString& path) const
{
    QMutexLocker lock(&mutex);
    return answers.value(path, Answer::withStatus(404, "not here\n"));
}

QList<TestHttpServer::Request> TestHttpServer::requests() const
{
    QMutexLocker lock(&mutex);
    return log;
}

QStringList TestHttpServer::requestedPaths() const
{
    QMutexLocker lock(&mutex);
    QStringList paths;
    for (const Request& request : log)
        paths.append(request.path);
    return paths;
}

int TestHttpServer::requestCount(const QString& path) const
{
    return int(requestedPaths().count(path));
}

void TestHttpServer::clearRequests()
{
    QMutexLocker lock(&mutex);
    log.clear();
}

QByteArray TestHttpServer::generatedBytes(qint64 offset, qint64 length)
{
    const QByteArray& table = patternTable();
    QByteArray bytes(int(length), Qt::Uninitialized);
    char* out = bytes.data();
    qint64 done = 0;
    while (done < length) {
        const int start = int((offset + done) % patternPeriod);
        const qint64 piece = std::min<qint64>(patternPeriod - start, length - done);
        std::memcpy(out + done, table.constData() + start, size_t(piece));
        done += piece;
    }
    return bytes;
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        new TestHttpConnection(this, socket);
        QMutexLocker lock(&mutex);
        ++connections;
    }
}

int TestHttpServer::connectionCount() const
{
    QMutexLocker lock(&mutex);
    return connections;
}

void TestHttpServer::record(const Request& request)
{
    {
        QMutexLocker lock(&mutex);
        log.append(request);
    }
    emit requestReceived(request.path);
}
