// Asks the mirrors for the release statement of a client type: the signed
// word of the publisher on which version each channel installs.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include "release/releasestatement.h"

class QNetworkAccessManager;

/// Fetches "<type>.channels" from the base URL of each mirror in turn (never
/// below a version folder), with its ".sig256", or its ".sig" where the
/// mirror has no ".sig256", through the manager and so through its proxy.
/// The first statement that verifies with a trusted key, reads by the
/// format's rules and can decide the channel (ReleaseStatement::problemFor)
/// is taken. A mirror that has none (404), cannot be reached, or whose
/// statement is of no use is left for the next; why a statement was of no
/// use goes out as a message. Runs a local event loop until done; GUI thread.
class ReleaseStatementQuery final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(ReleaseStatementQuery)

public:
    enum class Outcome {
        /// No mirror has a statement that names the channel: decide as before.
        None,
        /// statement names the channel's version.
        Followed,
        /// Statements were found, and none of them can be followed: reason
        /// tells why the last one cannot.
        Refused,
        /// The application is quitting; the query was cut short.
        Interrupted,
    };

    struct Result {
        Outcome outcome = Outcome::None;
        ReleaseStatement::Channel entry;
        QString reason;
    };

    /// The manager is not owned. lastIssued is when the statement last
    /// followed for channel was issued (invalid for none).
    ReleaseStatementQuery(QNetworkAccessManager& manager, QStringList baseUrls, QString clientType,
        QString channel, QDateTime lastIssued);

    /// Asks the mirrors; blocks the caller in a local event loop.
    Result run();

    /// A transfer that brings nothing for this long is given up, in ms.
    void setStallTimeout(int ms) { stallTimeoutMs = ms; }
    static constexpr int defaultStallTimeoutMs = 15000;

    /// The base URLs of the mirrors in the client directory: the alpha
    /// mirror of "update.ini" on the alpha channel, else those of
    /// "mirrors.ini" in their listed order.
    static QStringList mirrorBaseUrls(bool alpha);

signals:
    void message(QString message);

private:
    enum class Status { Fetched, Absent, Failed, Interrupted };
    struct Fetch {
        Status status = Status::Failed;
        QByteArray body;
    };

    Fetch fetch(const QString& baseUrl, const QString& name, qint64 maxBytes);
    // Why the statement text with its signature cannot be followed, or
    // empty when it can. noEntry is set when it names nothing for the channel.
    QString judge(const QString& baseUrl, const QByteArray& text, const Fetch& sig256, const Fetch& sig,
        ReleaseStatement::Channel* entry, bool* noEntry) const;

    QNetworkAccessManager& manager;
    QStringList baseUrls;
    QString clientType;
    QString channel;
    QDateTime lastIssued;
    int stallTimeoutMs = defaultStallTimeoutMs;
};
