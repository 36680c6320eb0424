// Judges whether a transfer keeps up a minimum pace over a sliding window of
// progress ticks.
#pragma once

#include <deque>

#include <QtGlobal>

/// Fed the byte count of one transfer at every progress tick. A transfer is
/// too slow once the last windowTicks ticks brought fewer than
/// minBytesPerTick per tick on average; before a whole window has passed
/// it is never judged. Unlike a silence time-out, a trickle of data does not
/// reset it.
class ThroughputWindow final {
public:
    ThroughputWindow(int windowTicks, qint64 minBytesPerTick);

    /// A new transfer starts with nothing received.
    void restart();
    /// Records bytesSoFar (received since the start) at one tick; true when
    /// the window that ends with this tick fell short of the pace.
    bool tooSlow(qint64 bytesSoFar);

private:
    int windowTicks;
    qint64 minBytesPerTick;
    // The count at the start and at each tick since, at most one window back.
    std::deque<qint64> counts;
};
