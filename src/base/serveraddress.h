// Host and port of a UDP service, with the run-time override that lets tests,
// staging and the demo point the updater at servers on loopback.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

class QString;

struct ServerAddress final {
    QByteArray host;
    quint16 port = 0;

    /// Parses "host" or "host:port". A port must be a decimal number from 1 to
    /// 65535; without one, defaultPort is used. Empty or malformed text gives
    /// no address.
    static std::optional<ServerAddress> parse(const QString& text, quint16 defaultPort);

    /// The address named by the environment variable envName, or defaultHost
    /// with defaultPort when the variable is unset or empty. A malformed value
    /// is ignored with a warning on stderr.
    static ServerAddress fromEnvironment(const char* envName, const char* defaultHost, quint16 defaultPort);
};
