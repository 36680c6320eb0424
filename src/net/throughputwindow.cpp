// The pace judgement of a transfer.
#include "throughputwindow.h"

ThroughputWindow::ThroughputWindow(int windowTicks, qint64 minBytesPerTick)
    : windowTicks(windowTicks)
    , minBytesPerTick(minBytesPerTick)
{
    restart();
}

void ThroughputWindow::restart()
{
    counts.assign(1, 0);
}

bool ThroughputWindow::tooSlow(qint64 bytesSoFar)
{
    counts.push_back(bytesSoFar);
    if (counts.size() <= static_cast<size_t>(windowTicks))
        return false;
    const qint64 inWindow = bytesSoFar - counts.front();
    counts.pop_front();
    return inWindow < minBytesPerTick * windowTicks;
}
