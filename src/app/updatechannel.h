// The release channels a client can follow.
#pragma once

#include <QString>

/// The value is also the position of the channel's entry in the latest-version
/// reply of the update server.
enum UpdateChannel { Stable = 0, Beta = 1, Alpha = 2 };

/// The channel's name in lower case: "stable", "beta" or "alpha", as the
/// console shows it and the release statement and "update.ini" write it.
inline QString channelName(UpdateChannel channel)
{
    switch (channel) {
    case Beta:
        return QStringLiteral("beta");
    case Alpha:
        return QStringLiteral("alpha");
    case Stable:
        break;
    }
    return QStringLiteral("stable");
}
