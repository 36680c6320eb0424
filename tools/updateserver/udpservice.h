// One UDP port of the reference server: answers each datagram through a
// handler and logs every request on standard output.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QHostAddress;
class QUdpSocket;
class RateLimiter;

class UdpService final {
public:
    /// Returns the reply to a request (an empty reply is a datagram of its
    /// own), or nothing to leave it unanswered; what is set to a short
    /// description for the log.
    using Handler = std::function<std::optional<QByteArray>(const QByteArray& request, QString& what)>;

    /// limiter, not owned, decides which answers go out; it may be shared
    /// by several services.
    UdpService(QString name, Handler handler, RateLimiter& limiter);
    ~UdpService();
    UdpService(const UdpService&) = delete;
    UdpService& operator=(const UdpService&) = delete;

    /// Binds address:port (port 0 picks a free one); an error text or empty.
    QString bind(const QHostAddress& address, quint16 port);
    quint16 port() const;

private:
    void onReadyRead();

    QString name;
    Handler handler;
    RateLimiter& limiter;
    std::unique_ptr<QUdpSocket> socket;
};

/// Writes one log line with a UTC time stamp to standard output at once.
void logLine(const QString& text);
