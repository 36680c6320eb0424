// Biggest files first: a large file picked up last would keep one thread busy
// while the others have nothing left to do.
#include "parallelpacker.h"

#include "progressline.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

namespace {

constexpr std::chrono::milliseconds progressTick(100);

PackOutcome packOne(const PackJob& job, int level, ByteCounter& bytesDone)
{
    if (!job.tryGzip)
        return {false, copyFile(job.source, job.target, &bytesDone), {}};
    const QString packedTarget = job.target + QStringLiteral(".gz");
    const PackResult result = gzipFile(job.source, packedTarget, level, &bytesDone);
    // Packing only pays when the download gets smaller.
    if (result.packed.size < result.unpacked.size)
        return {true, result.packed, result.unpacked};
    QFile::remove(packedTarget);
    return {false, copyFile(job.source, job.target), {}};
}

} // namespace

QList<PackOutcome> packAll(const QList<PackJob>& jobs, int level, int threads)
{
    std::vector<qsizetype> order(size_t(jobs.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
        [&jobs](qsizetype a, qsizetype b) { return jobs.at(a).size > jobs.at(b).size; });
    quint64 totalBytes = 0;
    for (const PackJob& job : jobs)
        totalBytes += job.size;

    // Each thread writes only its own elements; a QList could detach.
    std::vector<PackOutcome> outcomes(size_t(jobs.size()));
    std::vector<std::exception_ptr> failures(size_t(jobs.size()));
    std::atomic<size_t> next {0};
    std::atomic<bool> failed {false};
    std::atomic<quint64> filesDone {0};
    ByteCounter bytesDone {0};
    std::mutex mutex;
    std::condition_variable stopped;
    int running = threads;

    const auto work = [&] {
        for (size_t i = next++; i < order.size() && !failed; i = next++) {
            const qsizetype index = order[i];
            try {
                outcomes[size_t(index)] = packOne(jobs.at(index), level, bytesDone);
            } catch (...) {
                failures[size_t(index)] = std::current_exception();
                failed = true;
            }
            ++filesDone;
        }
        const std::lock_guard<std::mutex> lock(mutex);
        --running;
        stopped.notify_one();
    };
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i)
        workers.emplace_back(work);

    ProgressLine progress(quint64(jobs.size()), totalBytes);
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopped.wait_for(lock, progressTick, [&running] { return running == 0; }))
            progress.update(filesDone, bytesDone);
    }
    for (std::thread& worker : workers)
        worker.join();

    progress.finish(filesDone, bytesDone);
    for (const std::exception_ptr& failure : failures) {
        if (failure)
            std::rethrow_exception(failure);
    }
    return QList<PackOutcome>(outcomes.begin(), outcomes.end());
}
