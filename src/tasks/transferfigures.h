// The download figures a task reports at each progress tick.
#pragma once

#include <QtGlobal>

struct TransferFigures {
    /// Bytes received.
    quint64 done = 0;
    /// Bytes expected; 0 when the task does not know.
    quint64 total = 0;
    /// Bytes received since the previous tick.
    quint64 speed = 0;
    /// A transfer is running and not stalled.
    bool active = false;

    /// Adds a subtask's figures the way a composite sums them: the speed
    /// always, the bytes only of a subtask that knows its total, so that one
    /// without a total does not make the share done look larger.
    TransferFigures& operator+=(const TransferFigures& other)
    {
        speed += other.speed;
        if (other.total != 0) {
            done += other.done;
            total += other.total;
        }
        active = active || other.active;
        return *this;
    }
};
