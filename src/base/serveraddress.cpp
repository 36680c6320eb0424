// Host and port of a UDP service, with its run-time override.
#include "serveraddress.h"

#include <QString>
#include <QtDebug>

std::optional<ServerAddress> ServerAddress::parse(const QString& text, quint16 defaultPort)
{
    const QString trimmed = text.trimmed();
    const qsizetype colon = trimmed.lastIndexOf(QLatin1Char(':'));
    const QString host = colon < 0 ? trimmed : trimmed.left(colon);
    if (host.isEmpty() || host.contains(QLatin1Char(':')) || host.contains(QLatin1Char(' ')))
        return std::nullopt;

    ServerAddress address;
    address.host = host.toUtf8();
    address.port = defaultPort;
    if (colon >= 0) {
        bool ok = false;
        const uint port = trimmed.mid(colon + 1).toUInt(&ok, 10);
        if (!ok || port == 0 || port > 65535)
            return std::nullopt;
        address.port = static_cast<quint16>(port);
    }
    return address;
}

ServerAddress ServerAddress::fromEnvironment(
    const char* envName, const char* defaultHost, quint16 defaultPort)
{
    const QString value = qEnvironmentVariable(envName);
    if (!value.trimmed().isEmpty()) {
        if (const auto address = parse(value, defaultPort))
            return *address;
        qWarning(
            "%s=\"%s\" is not \"host\" or \"host:port\"; using %s", envName, qPrintable(value), defaultHost);
    }
    return ServerAddress {QByteArray(defaultHost), defaultPort};
}
