// The latest-version query: asks the update server over UDP which client
// version is current on each channel and fetches the news text.
#pragma once

#include "base/serveraddress.h"
#include "updatechannel.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

class UpdateChecker final {
public:
    /// UDP port of the update server unless CORVANE_UPDATE_SERVER names another.
    static constexpr quint16 defaultPort = 17384;
    /// The longest replies read, in bytes; anything beyond is cut off.
    static constexpr size_t versionReplyMax = 511;
    static constexpr size_t newsReplyMax = 4095;

    /// How long the query waits for each reply before it fails.
    static constexpr int defaultReplyTimeoutMs = 5000;

    /// The update server asked: the compiled-in host, or CORVANE_UPDATE_SERVER,
    /// with its UDP port.
    static ServerAddress serverAddress();

    /// Runs the whole exchange; true when both replies arrived. Only
    /// datagrams from the server's address and port count as replies. Blocks
    /// the calling thread for up to the reply time-out per reply plus name
    /// resolution.
    bool checkUpdate();
    bool readFromServer();

    /// ms must be positive.
    void setReplyTimeout(int ms) { replyTimeoutMs = ms; }

    /// The text of one reply datagram: Latin-1 up to its first zero byte.
    static QString replyText(const QByteArray& datagram);
    /// Replaces versions with the entries of a version reply's text: comma
    /// separated, each "number#display text" or a bare number.
    void readVersionReply(const QString& reply);

    /// The entry of the channel's position in the version reply, or two empty
    /// texts when the reply had no such entry.
    QPair<QString, QString> getClientVersionByChannel(UpdateChannel channel) const;

    /// (version number text, display text), in reply order.
    QList<QPair<QString, QString>> versions;
    QString newsText;

private:
    int replyTimeoutMs = defaultReplyTimeoutMs;
};
