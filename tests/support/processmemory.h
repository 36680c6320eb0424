// Memory figures of the running process from /proc, for the benchmarks that
// report how much a phase holds at its peak.
#pragma once

#include <QtGlobal>

namespace ProcessMemory {

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS"), or -1 when it cannot be read.
qint64 statusKiB(const char* field);
// Makes the kernel restart the high-water mark (VmHWM) from the current resident size.
void resetPeak();

} // namespace ProcessMemory
