// The latest-version query over plain POSIX UDP sockets.
#include "updatechecker.h"

#include "base/filedescriptor.h"
#include "base/serveraddress.h"
#include "buildconfig.h"

#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

bool resolve(const ServerAddress& server, sockaddr_in* result)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* found = nullptr;
    if (::getaddrinfo(server.host.constData(), nullptr, &hints, &found) != 0 || !found)
        return false;
    std::memcpy(result, found->ai_addr, sizeof(sockaddr_in));
    result->sin_port = htons(server.port);
    ::freeaddrinfo(found);
    return true;
}

bool sendRequest(int fd, char command)
{
    const char request[2] = {command, '\0'};
    ssize_t sent;
    do {
        sent = ::send(fd, request, sizeof(request), 0);
    } while (sent < 0 && errno == EINTR);
    return sent > 0;
}

// Receives one datagram of at most maxBytes (the rest of a longer one is
// dropped by the kernel) and decodes it.
bool receiveText(int fd, size_t maxBytes, QString* text)
{
    QByteArray buffer(static_cast<qsizetype>(maxBytes), '\0');
    ssize_t received;
    do {
        received = ::recv(fd, buffer.data(), maxBytes, 0);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return false;
    buffer.truncate(received);
    *text = UpdateChecker::replyText(buffer);
    return true;
}

} // namespace

ServerAddress UpdateChecker::serverAddress()
{
    return ServerAddress::fromEnvironment(
        "CORVANE_UPDATE_SERVER", CORVANE_DEFAULT_UPDATE_SERVER, defaultPort);
}

bool UpdateChecker::checkUpdate()
{
    return readFromServer();
}

bool UpdateChecker::readFromServer()
{
    const FileDescriptor socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (socket.fd() < 0)
        return false;

    const ServerAddress server = serverAddress();
    sockaddr_in address {};
    if (!resolve(server, &address))
        return false;
    // A connected datagram socket only ever receives from that address and
    // port: the kernel drops an answer forged by anyone else, which would
    // otherwise be taken for the server's if it came first.
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        return false;

    if (!sendRequest(socket.fd(), '3'))
        return false;

    timeval timeout {};
    timeout.tv_sec = replyTimeoutMs / 1000;
    timeout.tv_usec = (replyTimeoutMs % 1000) * 1000;
    ::setsockopt(socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));

    QString versionReply;
    if (!receiveText(socket.fd(), versionReplyMax, &versionReply))
        return false;
    readVersionReply(versionReply);

    if (!sendRequest(socket.fd(), '*'))
        return false;
    QString news;
    if (!receiveText(socket.fd(), newsReplyMax, &news))
        return false;
    newsText = news;
    return true;
}

QString UpdateChecker::replyText(const QByteArray& datagram)
{
    const qsizetype zero = datagram.indexOf('\0');
    return QString::fromLatin1(zero >= 0 ? datagram.left(zero) : datagram);
}

void UpdateChecker::readVersionReply(const QString& reply)
{
    // A retry on the same checker starts from a clean list.
    versions.clear();
    const QStringList entries = reply.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString& entry : entries) {
        const qsizetype hash = entry.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            versions.append(qMakePair(entry.left(hash), entry.mid(hash + 1)));
        else
            versions.append(qMakePair(entry, QString()));
    }
}

QPair<QString, QString> UpdateChecker::getClientVersionByChannel(UpdateChannel channel) const
{
    const int index = static_cast<int>(channel);
    if (index >= 0 && index < versions.size())
        return versions.at(index);
    return {};
}
