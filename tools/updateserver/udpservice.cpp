// One UDP port of the reference server.
#include "udpservice.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <cstdio>

#include "ratelimiter.h"

void logLine(const QString& text)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    std::printf("%s %s\n", qUtf8Printable(stamp), qUtf8Printable(text));
    std::fflush(stdout);
}

UdpService::UdpService(QString name, Handler handler, RateLimiter& limiter)
    : name(std::move(name))
    , handler(std::move(handler))
    , limiter(limiter)
    , socket(std::make_unique<QUdpSocket>())
{
    QObject::connect(socket.get(), &QUdpSocket::readyRead, socket.get(), [this] { onReadyRead(); });
}

UdpService::~UdpService() = default;

QString UdpService::bind(const QHostAddress& address, quint16 port)
{
    if (!socket->bind(address, port))
        return QStringLiteral("Cannot bind the %1 port %2:%3: %4")
            .arg(name, address.toString())
            .arg(port)
            .arg(socket->errorString());
    return {};
}

quint16 UdpService::port() const
{
    return socket->localPort();
}

void UdpService::onReadyRead()
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram request = socket->receiveDatagram();
        if (!request.isValid())
            continue;
        QString what;
        const std::optional<QByteArray> reply = handler(request.data(), what);
        const QString from =
            QStringLiteral("%1:%2").arg(request.senderAddress().toString()).arg(request.senderPort());
        if (!reply) {
            logLine(QStringLiteral("%1: %2 from %3, not answered").arg(name, what, from));
            continue;
        }
        // A flood of forged requests must not become a flood of log lines
        // either: one line each time an address runs out of answers.
        const RateLimiter::Verdict verdict = limiter.admit(request.senderAddress());
        if (verdict == RateLimiter::Refuse)
            logLine(
                QStringLiteral("%1: %2 from %3, not answered: over the rate limit, further requests from %4 "
                               "go unanswered and unlogged until it slows down")
                    .arg(name, what, from, request.senderAddress().toString()));
        if (verdict != RateLimiter::Answer)
            continue;
        const qint64 sent =
            socket->writeDatagram(*reply, request.senderAddress(), quint16(request.senderPort()));
        if (sent != reply->size())
            logLine(QStringLiteral("%1: %2 from %3, reply failed: %4")
                        .arg(name, what, from, socket->errorString()));
        else
            logLine(
                QStringLiteral("%1: %2 from %3, answered %4 bytes").arg(name, what, from).arg(reply->size()));
    }
}
