// Token buckets per source address.
#include "ratelimiter.h"

#include <algorithm>

namespace {

// Beyond this many addresses in the table, the full buckets are forgotten
// (at most once a second); an address that finds no room is not answered.
constexpr qsizetype maxAddresses = 100000;
constexpr qint64 sweepIntervalMs = 1000;

// An IPv4 client reaching a dual-stack socket shows as ::ffff:a.b.c.d.
QHostAddress plain(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

} // namespace

RateLimiter::RateLimiter(double answersPerSecond, int burst)
    : perMs(answersPerSecond / 1000.0)
    , burst(burst)
{
    clock.start();
}

double RateLimiter::tokensAt(const Bucket& bucket, qint64 nowMs) const
{
    return std::min(burst, bucket.tokens + double(nowMs - bucket.updatedMs) * perMs);
}

void RateLimiter::forgetFullBuckets(qint64 nowMs)
{
    if (sweptMs >= 0 && nowMs - sweptMs < sweepIntervalMs)
        return;
    sweptMs = nowMs;
    for (auto it = buckets.begin(); it != buckets.end();) {
        if (tokensAt(*it, nowMs) >= burst)
            it = buckets.erase(it);
        else
            ++it;
    }
}

RateLimiter::Verdict RateLimiter::admit(const QHostAddress& source)
{
    const qint64 nowMs = clock.elapsed();
    const QHostAddress address = plain(source);
    auto it = buckets.find(address);
    if (it == buckets.end()) {
        if (buckets.size() >= maxAddresses)
            forgetFullBuckets(nowMs);
        if (buckets.size() >= maxAddresses)
            return RefuseQuietly;
        it = buckets.insert(address, Bucket {burst, nowMs, false});
    }
    Bucket& bucket = *it;
    bucket.tokens = tokensAt(bucket, nowMs);
    bucket.updatedMs = nowMs;
    if (bucket.tokens >= 1) {
        bucket.tokens -= 1;
        bucket.refused = false;
        return Answer;
    }
    const bool first = !bucket.refused;
    bucket.refused = true;
    return first ? Refuse : RefuseQuietly;
}
