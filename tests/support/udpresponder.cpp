// A scripted UDP server on loopback for tests of the UDP clients.
#include "udpresponder.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

UdpResponder::~UdpResponder()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool UdpResponder::start()
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (m_fd < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0
        || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
    return true;
}

QString UdpResponder::hostAndPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

void UdpResponder::setReply(const QByteArray& request, const QByteArray& reply)
{
    QMutexLocker lock(&m_mutex);
    m_replies.insert(request, reply);
}

void UdpResponder::setForgery(const QByteArray& request, const QByteArray& forged, const QByteArray& fromHost)
{
    QMutexLocker lock(&m_mutex);
    m_forgeries.insert(request, {forged, fromHost});
}

void UdpResponder::clearReplies()
{
    QMutexLocker lock(&m_mutex);
    m_replies.clear();
    m_forgeries.clear();
}

void UdpResponder::clearRequests()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
    m_requestPorts.clear();
    m_requestTimesMs.clear();
}

QList<QByteArray> UdpResponder::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

QList<quint16> UdpResponder::requestPorts() const
{
    QMutexLocker lock(&m_mutex);
    return m_requestPorts;
}

QList<qint64> UdpResponder::requestTimesMs() const
{
    QMutexLocker lock(&m_mutex);
    return m_requestTimesMs;
}

void UdpResponder::run()
{
    QByteArray buffer(65536, '\0');
    while (!m_stop) {
        pollfd watched {m_fd, POLLIN, 0};
        if (::poll(&watched, 1, 20) <= 0)
            continue;
        sockaddr_in from {};
        socklen_t fromLength = sizeof(from);
        const ssize_t received = ::recvfrom(m_fd, buffer.data(), static_cast<size_t>(buffer.size()), 0,
            reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0)
            continue;
        const qint64 arrived = QDeadlineTimer::current().deadline();
        const QByteArray request = buffer.left(received);
        QByteArray reply;
        bool answer = false;
        QPair<QByteArray, QByteArray> forgery;
        {
            QMutexLocker lock(&m_mutex);
            m_requests.append(request);
            m_requestPorts.append(ntohs(from.sin_port));
            m_requestTimesMs.append(arrived);
            const auto it = m_replies.constFind(request);
            if (it != m_replies.constEnd()) {
                reply = it.value();
                answer = true;
            }
            forgery = m_forgeries.value(request);
        }
        if (!forgery.second.isEmpty())
            sendForged(forgery.first, forgery.second, from);
        if (answer)
            ::sendto(m_fd, reply.constData(), static_cast<size_t>(reply.size()), 0,
                reinterpret_cast<const sockaddr*>(&from), fromLength);
    }
}

void UdpResponder::sendForged(const QByteArray& datagram, const QByteArray& fromHost, const sockaddr_in& to)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0)
        return;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    if (::inet_pton(AF_INET, fromHost.constData(), &address.sin_addr) == 1
        && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
        ::sendto(fd, datagram.constData(), static_cast<size_t>(datagram.size()), 0,
            reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    ::close(fd);
}
