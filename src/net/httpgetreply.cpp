// One GET request over HTTP/1.1 with a bounded response head.
#include "httpgetreply.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <QList>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QPair>
#include <QTcpSocket>
#include <QUrl>
#if QT_CONFIG(ssl)
#include <QSslSocket>
#endif

#include "net/httpconnectionpool.h"

namespace {

// What is taken from the socket at a time, and what the socket itself may
// hold: a server that sends faster than we read waits in the kernel.
constexpr qint64 readChunkBytes = 1024 * 1024;
// A chunk-size line is a hexadecimal number and perhaps an extension.
constexpr qsizetype maxChunkLineBytes = 1024;
// A body read: what a read buffer of unlimited size takes from the socket.
constexpr qint64 unlimitedChunkBytes = readChunkBytes;

QNetworkReply::NetworkError errorOfStatus(int status)
{
    switch (status) {
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 403:
        return QNetworkReply::ContentAccessDenied;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    case 405:
        return QNetworkReply::ContentOperationNotPermittedError;
    case 407:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409:
        return QNetworkReply::ContentConflictError;
    case 410:
        return QNetworkReply::ContentGoneError;
    case 500:
        return QNetworkReply::InternalServerError;
    case 501:
        return QNetworkReply::OperationNotImplementedError;
    case 503:
        return QNetworkReply::ServiceUnavailableError;
    default:
        return status >= 500 ? QNetworkReply::UnknownServerError : QNetworkReply::UnknownContentError;
    }
}

QNetworkReply::NetworkError errorOfSocket(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
        return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::NetworkError:
        return QNetworkReply::TemporaryNetworkFailureError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// The end of the head in text: its length up to and including the empty
// line, or -1. Bare line feeds count as line ends too.
qsizetype headLength(const QByteArray& text)
{
    const qsizetype crlf = text.indexOf("\r\n\r\n");
    const qsizetype lf = text.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf + 2 <= lf))
        return crlf + 4;
    return lf >= 0 ? lf + 2 : -1;
}

bool isToken(const QByteArray& name)
{
    if (name.isEmpty())
        return false;
    for (const char c : name) {
        if (c <= ' ' || c >= 127 || c == ':')
            return false;
    }
    return true;
}

} // namespace

HttpGetReply::HttpGetReply(const QNetworkRequest& request, HttpConnectionPool* pool, QObject* parent)
    : QNetworkReply(parent)
    , pool(pool)
{
    setRequest(request);
    setUrl(request.url());
    setOperation(QNetworkAccessManager::GetOperation);
    open(QIODevice::ReadOnly);
    // Like the toolkit's replies, nothing is reported before the caller has
    // had a chance to connect.
    QMetaObject::invokeMethod(this, &HttpGetReply::start, Qt::QueuedConnection);
}

HttpGetReply::~HttpGetReply()
{
    releaseSocket(false);
}

void HttpGetReply::start()
{
    if (phase == Phase::Connecting && !socket)
        openConnection();
}

void HttpGetReply::openConnection()
{
    const QUrl address = url();
    const bool tls = address.scheme() == QLatin1String("https");
    socket = pool && !replacedStaleConnection ? pool->take(HttpConnectionPool::keyOf(address)) : nullptr;
    reusedConnection = socket != nullptr;
    if (socket) {
        socket->setParent(this);
    } else {
#if QT_CONFIG(ssl)
        socket = tls ? new QSslSocket(this) : new QTcpSocket(this);
#else
        if (tls) {
            fail(ProtocolUnknownError, QStringLiteral("%1: this build cannot use https").arg(shownUrl()));
            return;
        }
        socket = new QTcpSocket(this);
#endif
        // The manager has found that nothing stands in between.
        socket->setProxy(QNetworkProxy::NoProxy);
        socket->setReadBufferSize(readChunkBytes);
    }
    connect(socket, &QAbstractSocket::readyRead, this, &HttpGetReply::pump);
    connect(socket, &QAbstractSocket::disconnected, this, &HttpGetReply::onSocketDisconnected);
    connect(socket, &QAbstractSocket::errorOccurred, this, &HttpGetReply::onSocketError);
    if (reusedConnection) {
        sendRequest();
        return;
    }
    const quint16 port = quint16(address.port(tls ? 443 : 80));
#if QT_CONFIG(ssl)
    if (tls) {
        auto* secure = static_cast<QSslSocket*>(socket);
        connect(secure, &QSslSocket::encrypted, this, &HttpGetReply::sendRequest);
        secure->connectToHostEncrypted(address.host(), port);
        return;
    }
#endif
    connect(socket, &QAbstractSocket::connected, this, &HttpGetReply::sendRequest);
    socket->connectToHost(address.host(), port);
}

void HttpGetReply::sendRequest()
{
    phase = Phase::Head;
    pending.clear();
    headBytes = 0;
    const QUrl address = url();
    QByteArray target = address.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (address.hasQuery())
        target += '?' + address.query(QUrl::FullyEncoded).toLatin1();
    QByteArray host = address.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    const int defaultPort = address.scheme() == QLatin1String("https") ? 443 : 80;
    if (address.port(defaultPort) != defaultPort)
        host += ':' + QByteArray::number(address.port());

    QByteArray head = "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    const QNetworkRequest asked = request();
    for (const QByteArray& name : asked.rawHeaderList()) {
        const QByteArray value = asked.rawHeader(name);
        // A line break in a value would start a header of its own.
        if (name.compare("host", Qt::CaseInsensitive) == 0 || !isToken(name) || value.contains('\r')
            || value.contains('\n'))
            continue;
        head += name + ": " + value + "\r\n";
    }
    if (sentCredentials) {
        const QByteArray credentials =
            (address.userName(QUrl::FullyDecoded) + QLatin1Char(':') + address.password(QUrl::FullyDecoded))
                .toUtf8();
        head += "Authorization: Basic " + credentials.toBase64() + "\r\n";
    }
    socket->write(head + "\r\n");
}

void HttpGetReply::pump()
{
    pumpQueued = false;
    if (!socket || (phase != Phase::Head && phase != Phase::Body))
        return;
    const QPointer<HttpGetReply> self(this);
    bool full = false;
    while (socket && (phase == Phase::Head || phase == Phase::Body)) {
        full = phase == Phase::Body && bufferLimit > 0 && bytesAvailable() >= bufferLimit;
        if (full)
            break;
        if (step()) {
            if (!self)
                return;
            continue;
        }
        if (!self)
            return;
        if (!socket || phase == Phase::Done || socket->bytesAvailable() <= 0)
            break;
        pending += socket->read(readChunkBytes);
        reusedConnection = false;
    }
    if (received > announced && phase == Phase::Body) {
        announced = received;
        emit readyRead();
        if (!self)
            return;
        emit downloadProgress(received, total);
        if (!self)
            return;
    }
    // The server has gone and all it sent has been taken apart.
    if (peerGone && !full && socket && socket->bytesAvailable() <= 0
        && (phase == Phase::Head || phase == Phase::Body))
        serverGone();
}

bool HttpGetReply::step()
{
    return phase == Phase::Head ? stepHead() : stepBody();
}

bool HttpGetReply::stepHead()
{
    // Empty lines before an answer are allowed and mean nothing.
    qsizetype blank = 0;
    while (blank < pending.size() && (pending.at(blank) == '\r' || pending.at(blank) == '\n'))
        ++blank;
    if (blank > 0) {
        pending.remove(0, blank);
        headBytes += blank;
    }
    const qsizetype length = headLength(pending);
    const qint64 headSoFar = headBytes + (length >= 0 ? length : pending.size());
    if (headSoFar > maxResponseHeadBytes) {
        // Refused as soon as it is seen: nothing more of it is read.
        failHeadTooLarge();
        return false;
    }
    if (length < 0)
        return blank > 0;
    headBytes = headSoFar;
    const QByteArray head = pending.left(length);
    pending.remove(0, length);
    return takeHead(head);
}

bool HttpGetReply::takeHead(const QByteArray& head)
{
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QByteArray statusLine = lines.value(0);
    const QList<QByteArray> parts = statusLine.split(' ');
    bool numeric = false;
    const int code = parts.value(1).toInt(&numeric);
    if (!statusLine.startsWith("HTTP/1.") || statusLine.size() < 12 || parts.value(1).size() != 3 || !numeric
        || code < 100) {
        fail(ProtocolFailure, QStringLiteral("%1 sent no valid HTTP status line").arg(shownUrl()));
        return false;
    }
    // An interim answer; the real one follows on the same connection.
    if (code < 200 && code != 101)
        return true;

    QList<QPair<QByteArray, QByteArray>> fields;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        if (line.isEmpty())
            continue;
        if ((line.at(0) == ' ' || line.at(0) == '\t') && !fields.isEmpty()) {
            // A folded line continues the field before it.
            fields.last().second += ' ' + line.trimmed();
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed();
        if (colon <= 0 || !isToken(name)) {
            fail(ProtocolFailure, QStringLiteral("%1 sent a malformed header line").arg(shownUrl()));
            return false;
        }
        const QByteArray value = line.mid(colon + 1).trimmed();
        bool merged = false;
        for (auto& field : fields) {
            if (field.first.compare(name, Qt::CaseInsensitive) == 0) {
                field.second += ", " + value;
                merged = true;
                break;
            }
        }
        if (!merged)
            fields.append({name, value});
    }
    const auto fieldValue = [&fields](const char* name) {
        for (const auto& field : fields) {
            if (field.first.compare(name, Qt::CaseInsensitive) == 0)
                return field.second;
        }
        return QByteArray();
    };

    if (code == 401 && retryWithCredentials(fieldValue("WWW-Authenticate")))
        return true;

    status = code;
    const QByteArray reason = statusLine.mid(parts.value(0).size() + 5);
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, code);
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, reason);
    for (const auto& field : std::as_const(fields))
        setRawHeader(field.first, field.second);
    const QByteArray location = fieldValue("Location");
    if (code >= 300 && code < 400 && !location.isEmpty())
        setAttribute(
            QNetworkRequest::RedirectionTargetAttribute, url().resolved(QUrl::fromEncoded(location)));

    const QByteArray connection = fieldValue("Connection").toLower();
    keepAlive = statusLine.startsWith("HTTP/1.1") && !connection.contains("close");
    const QByteArray contentLength = fieldValue("Content-Length");
    if (code == 204 || code == 304) {
        framing = Framing::Empty;
    } else if (fieldValue("Transfer-Encoding").toLower().contains("chunked")) {
        framing = Framing::Chunked;
        chunk = Chunk::Size;
    } else if (!contentLength.isEmpty()) {
        bool valid = !contentLength.contains(',');
        const qint64 length = contentLength.toLongLong(&valid);
        if (!valid || length < 0 || contentLength.startsWith('+')) {
            fail(ProtocolFailure, QStringLiteral("%1 sent an invalid Content-Length").arg(shownUrl()));
            return false;
        }
        framing = Framing::Length;
        remaining = total = length;
    } else {
        framing = Framing::UntilClose;
        keepAlive = false;
    }

    phase = Phase::Body;
    const QPointer<HttpGetReply> self(this);
    emit metaDataChanged();
    if (!self || phase != Phase::Body)
        return true;
    if (framing == Framing::Empty || (framing == Framing::Length && remaining == 0))
        endOfBody();
    return true;
}

bool HttpGetReply::retryWithCredentials(const QByteArray& challenge)
{
    // Once, with the credentials the address carries, as the toolkit does.
    if (sentCredentials || url().userName().isEmpty() || !challenge.toLower().contains("basic"))
        return false;
    sentCredentials = true;
    releaseSocket(false);
    phase = Phase::Connecting;
    replacedStaleConnection = true;
    openConnection();
    return true;
}

bool HttpGetReply::stepBody()
{
    if (framing == Framing::Chunked)
        return stepChunked();
    if (framing == Framing::Empty) {
        endOfBody();
        return true;
    }
    qint64 room = bufferLimit > 0 ? bufferLimit - bytesAvailable() : unlimitedChunkBytes;
    if (framing == Framing::Length)
        room = std::min(room, remaining);
    if (room <= 0)
        return false;
    qint64 got = 0;
    if (!pending.isEmpty()) {
        got = std::min<qint64>(room, pending.size());
        body.append(pending.constData(), got);
        pending.remove(0, got);
    } else {
        const qint64 wanted = std::min(room, socket->bytesAvailable());
        if (wanted <= 0)
            return false;
        const qsizetype old = body.size();
        body.resize(old + wanted);
        got = std::max<qint64>(0, socket->read(body.data() + old, wanted));
        body.resize(old + got);
        reusedConnection = false;
    }
    received += got;
    if (framing == Framing::Length) {
        remaining -= got;
        if (remaining == 0)
            endOfBody();
    }
    return got > 0;
}

bool HttpGetReply::stepChunked()
{
    QByteArray line;
    switch (chunk) {
    case Chunk::Size: {
        if (!takeLine(&line))
            return false;
        const qsizetype extension = line.indexOf(';');
        const QByteArray digits = (extension < 0 ? line : line.left(extension)).trimmed();
        bool valid = false;
        const qint64 size = digits.toLongLong(&valid, 16);
        if (!valid || size < 0 || digits.size() > 15) {
            fail(ProtocolFailure, QStringLiteral("%1 sent an invalid chunk size").arg(shownUrl()));
            return false;
        }
        remaining = size;
        chunk = size == 0 ? Chunk::Trailer : Chunk::Data;
        return true;
    }
    case Chunk::Data: {
        const qint64 room = bufferLimit > 0 ? bufferLimit - bytesAvailable() : remaining;
        const qint64 got = std::min({remaining, room, qint64(pending.size())});
        if (got <= 0)
            return false;
        body.append(pending.constData(), got);
        pending.remove(0, got);
        remaining -= got;
        received += got;
        if (remaining == 0)
            chunk = Chunk::DataEnd;
        return true;
    }
    case Chunk::DataEnd:
        if (!takeLine(&line))
            return false;
        if (!line.isEmpty()) {
            fail(ProtocolFailure, QStringLiteral("%1 sent a chunk longer than announced").arg(shownUrl()));
            return false;
        }
        chunk = Chunk::Size;
        return true;
    case Chunk::Trailer:
        if (!takeLine(&line))
            return false;
        // Trailer fields are headers too, and as bounded.
        headBytes += line.size() + 1;
        if (headBytes > maxResponseHeadBytes) {
            failHeadTooLarge();
            return false;
        }
        if (line.isEmpty())
            endOfBody();
        return true;
    }
    return false;
}

bool HttpGetReply::takeLine(QByteArray* line)
{
    const qsizetype end = pending.indexOf('\n');
    const qsizetype longest = chunk == Chunk::Trailer ? maxResponseHeadBytes : maxChunkLineBytes;
    if (end < 0) {
        if (pending.size() > longest)
            fail(ProtocolFailure,
                QStringLiteral("%1 sent an overlong line in a chunked body").arg(shownUrl()));
        return false;
    }
    *line = pending.left(end);
    if (line->endsWith('\r'))
        line->chop(1);
    pending.remove(0, end + 1);
    return true;
}

void HttpGetReply::endOfBody()
{
    // Bytes beyond the answer were never asked for: such a connection is not
    // used again.
    const bool reusable = keepAlive && pending.isEmpty() && socket && socket->bytesAvailable() == 0
        && socket->state() == QAbstractSocket::ConnectedState;
    phase = Phase::Done;
    releaseSocket(reusable);
    finishReply();
}

void HttpGetReply::finishReply()
{
    // Whatever a receiver does meanwhile (abort, say) may have finished us.
    const QPointer<HttpGetReply> self(this);
    if (received > announced) {
        announced = received;
        emit readyRead();
        if (!self || isFinished())
            return;
    }
    // At the end the size is known, announced or not.
    emit downloadProgress(received, total >= 0 ? total : received);
    if (!self || isFinished())
        return;
    if (status >= 400) {
        const NetworkError code = errorOfStatus(status);
        setError(code,
            QStringLiteral("Error transferring %1 - server replied: %2")
                .arg(shownUrl(),
                    QString::fromLatin1(
                        attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray())));
        emit errorOccurred(code);
        if (!self || isFinished())
            return;
    }
    announceEnd();
}

void HttpGetReply::announceEnd()
{
    const QPointer<HttpGetReply> self(this);
    setFinished(true);
    emit readChannelFinished();
    if (!self)
        return;
    emit finished();
}

void HttpGetReply::onSocketDisconnected()
{
    if (phase != Phase::Head && phase != Phase::Body)
        return;
    // What came before the end is taken apart first; pump() then comes to
    // serverGone(), at once or once the caller has read what waits.
    peerGone = true;
    pump();
}

void HttpGetReply::serverGone()
{
    if (phase == Phase::Body && framing == Framing::UntilClose) {
        endOfBody();
        return;
    }
    if (replaceStaleConnection())
        return;
    const QString when = phase == Phase::Head ? QStringLiteral("before its answer was complete")
                                              : QStringLiteral("after %1 bytes of the body").arg(received);
    fail(RemoteHostClosedError,
        QStringLiteral("%1: the server closed the connection %2").arg(shownUrl(), when));
}

bool HttpGetReply::replaceStaleConnection()
{
    // A kept connection the server has closed meanwhile: this request never
    // reached it, and a new connection carries it.
    if (!reusedConnection || replacedStaleConnection || phase != Phase::Head || headBytes > 0
        || !pending.isEmpty())
        return false;
    replacedStaleConnection = true;
    releaseSocket(false);
    peerGone = false;
    phase = Phase::Connecting;
    openConnection();
    return true;
}

void HttpGetReply::onSocketError()
{
    if ((phase != Phase::Head && phase != Phase::Body && phase != Phase::Connecting) || !socket)
        return;
    const QAbstractSocket::SocketError error = socket->error();
    // The end of the connection; the data before it counts, see onSocketDisconnected().
    if (error == QAbstractSocket::RemoteHostClosedError && phase != Phase::Connecting) {
        onSocketDisconnected();
        return;
    }
    if (replaceStaleConnection())
        return;
    fail(errorOfSocket(error), socket->errorString());
}

void HttpGetReply::fail(NetworkError code, const QString& text)
{
    if (isFinished())
        return;
    phase = Phase::Done;
    releaseSocket(false);
    const QPointer<HttpGetReply> self(this);
    setError(code, text);
    emit errorOccurred(code);
    if (self)
        announceEnd();
}

void HttpGetReply::failHeadTooLarge()
{
    fail(ProtocolFailure,
        QStringLiteral("%1 sent more than %2 bytes of response headers")
            .arg(shownUrl())
            .arg(maxResponseHeadBytes));
}

void HttpGetReply::releaseSocket(bool reusable)
{
    if (!socket)
        return;
    QAbstractSocket* released = std::exchange(socket, nullptr);
    disconnect(released, nullptr, this, nullptr);
    if (reusable && pool) {
        pool->keep(HttpConnectionPool::keyOf(url()), released);
        return;
    }
    released->abort();
    released->deleteLater();
}

void HttpGetReply::abort()
{
    if (!isFinished())
        fail(OperationCanceledError, tr("Operation canceled"));
    body.clear();
    bodyRead = 0;
    QNetworkReply::close();
}

void HttpGetReply::close()
{
    if (!isFinished())
        fail(OperationCanceledError, tr("Operation canceled"));
    QNetworkReply::close();
}

qint64 HttpGetReply::bytesAvailable() const
{
    return QNetworkReply::bytesAvailable() + body.size() - bodyRead;
}

void HttpGetReply::setReadBufferSize(qint64 size)
{
    QNetworkReply::setReadBufferSize(size);
    bufferLimit = size;
    if (!pumpQueued && socket) {
        pumpQueued = true;
        QMetaObject::invokeMethod(this, &HttpGetReply::pump, Qt::QueuedConnection);
    }
}

qint64 HttpGetReply::readData(char* data, qint64 maxSize)
{
    const qint64 waiting = body.size() - bodyRead;
    if (waiting <= 0)
        return phase == Phase::Done ? -1 : 0;
    const qint64 n = std::min<qint64>(maxSize, waiting);
    std::memcpy(data, body.constData() + bodyRead, size_t(n));
    bodyRead += n;
    // Read bytes are dropped in bulk, not moved on every read.
    if (bodyRead == body.size()) {
        body.resize(0);
        bodyRead = 0;
    } else if (bodyRead > body.size() / 2) {
        body.remove(0, bodyRead);
        bodyRead = 0;
    }
    // Room again: what waits in the socket comes in, from the event loop,
    // so that no signal reaches the caller inside its own read.
    if (!pumpQueued && socket && phase == Phase::Body) {
        pumpQueued = true;
        QMetaObject::invokeMethod(this, &HttpGetReply::pump, Qt::QueuedConnection);
    }
    return n;
}

QString HttpGetReply::shownUrl() const
{
    return url().toString(QUrl::RemovePassword);
}
