// Runs the checks of many files on a bounded set of worker threads, one per
// core, each with its own read buffer.
#pragma once

#include <functional>

class FileMd5;

namespace FileCheckPool {

/// Calls check(index, md5) once for every index in [0, count), spread over
/// at most threads workers (at least one), and returns when all are done.
/// check runs on the workers and must touch nothing but its own index's
/// result; report(done) runs on the calling thread about every reportMs
/// while the checks run, and once more at the end with count.
void run(int count, int threads, const std::function<void(int index, FileMd5& md5)>& check,
    const std::function<void(int done)>& report, int reportMs = 100);

} // namespace FileCheckPool
