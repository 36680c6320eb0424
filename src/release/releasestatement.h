// The release statement of one client type: which version each channel
// installs, bound to the SHA-256 of that version's product ini, when the
// publisher said so and until when it holds. The publisher writes it beside
// the version folders and signs it like the product ini; the updater reads it
// before it asks the update server.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

/// The file, "<type>.channels", is UTF-8 text of lines ending in a line feed:
/// blank lines and lines starting with ";" are comments, "[channel]" opens
/// the entry of a channel and "key=value" sets one of its fields, the value
/// being everything after the first "=". Fields: version (decimal, 1 or
/// more), type (the client type), productIniSha256 (64 lower-case hex
/// digits), issued and expires (UTC as "2024-05-01T12:00:00Z"), display
/// (text) and news (text in which "\n" stands for a line break and "\\" for
/// a backslash). The first five are required. Anything else that breaks
/// these rules makes the whole statement unreadable: a carriage return or
/// other control character, a line outside an entry, a channel or field
/// given twice, a malformed value. Channels and fields of other names are
/// skipped, so a later publisher can add some.
struct ReleaseStatement {
    struct Channel {
        int version = 0;
        QString clientType;
        /// The product ini's SHA-256, 32 bytes.
        QByteArray productIniSha256;
        QDateTime issued; // UTC, whole seconds
        QDateTime expires; // UTC, whole seconds
        QString display; // empty for none
        QString news; // empty for none
    };

    /// The entries by channel name: "stable", "beta" or "alpha".
    QMap<QString, Channel> channels;

    /// The statement of text; nullopt, with the broken rule in *problem when
    /// given, when it is not one.
    static std::optional<ReleaseStatement> parse(const QByteArray& text, QString* problem = nullptr);
    /// The text parse() reads back as this statement.
    QByteArray toText() const;

    /// Why the entry of channel cannot decide what the client of clientType
    /// installs at the time now, when the newest statement for it already
    /// followed was issued at lastIssued (invalid for none); empty when it
    /// can. A missing entry is not a problem: hasChannel() tells.
    QString problemFor(const QString& channel, const QString& clientType, const QDateTime& now,
        const QDateTime& lastIssued) const;
    bool hasChannel(const QString& channel) const { return channels.contains(channel); }

    /// "<clientType>.channels", the file at the mirror's base URL.
    static QString fileName(const QString& clientType);
    /// "stable", "beta", "alpha".
    static const QStringList& channelNames();
    /// The largest statement a publisher writes and an updater reads.
    static constexpr qint64 maxBytes = 64 * 1024;
    /// A time as the file writes it.
    static QString timeText(const QDateTime& time);
};
