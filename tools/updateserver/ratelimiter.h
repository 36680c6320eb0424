// How many answers each source address gets: the server's replies are many
// times larger than the requests, and a request's source can be forged, so
// unlimited answers would let anyone aim the server at a victim.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>

/// A token bucket per source address: burst answers at once, then
/// answersPerSecond more each second. Addresses that have been quiet long
/// enough to fill their bucket again are forgotten, so forged sources cannot
/// grow the table without bound.
class RateLimiter final {
public:
    enum Verdict {
        Answer, ///< a token was taken
        Refuse, ///< the first refusal since the address was last answered
        RefuseQuietly, ///< a later one
    };

    RateLimiter(double answersPerSecond, int burst);

    /// Whether a request from source, arriving now, may be answered.
    Verdict admit(const QHostAddress& source);

private:
    struct Bucket {
        double tokens = 0;
        qint64 updatedMs = 0;
        bool refused = false;
    };
    double tokensAt(const Bucket& bucket, qint64 nowMs) const;
    void forgetFullBuckets(qint64 nowMs);

    double perMs;
    double burst;
    QHash<QHostAddress, Bucket> buckets;
    QElapsedTimer clock;
    qint64 sweptMs = -1;
};
