// One piece of work for every index of a range, on all cores at once.
#include "parallelfor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include <QThread>

ParallelFor::ParallelFor(qsizetype count, int maxWorkers)
    : count(std::max<qsizetype>(count, 0))
{
    if (maxWorkers <= 0)
        maxWorkers = QThread::idealThreadCount();
    workers = int(std::max<qsizetype>(1, std::min<qsizetype>(maxWorkers, this->count)));
}

void ParallelFor::setProgress(std::function<void(qsizetype done)> progress, int everyMs)
{
    report = std::move(progress);
    reportMs = std::max(1, everyMs);
}

void ParallelFor::setCancel(std::function<bool()> cancel)
{
    cancelled = std::move(cancel);
}

bool ParallelFor::run(const std::function<void(qsizetype index, int worker)>& body)
{
    std::atomic<qsizetype> next {0};
    std::atomic<qsizetype> done {0};
    std::atomic<bool> stop {false};
    std::mutex mutex;
    std::condition_variable stopped;
    int running = 0;
    // The failure of the lowest index, so that the same fault is reported
    // however the indexes were spread over the threads.
    std::exception_ptr failure;
    qsizetype failedIndex = count;

    const auto work = [&](int worker) {
        while (!stop && !(cancelled && cancelled())) {
            const qsizetype index = next++;
            if (index >= count)
                break;
            try {
                body(index, worker);
                ++done;
            } catch (...) {
                stop = true;
                const std::lock_guard<std::mutex> lock(mutex);
                if (index < failedIndex) {
                    failedIndex = index;
                    failure = std::current_exception();
                }
            }
        }
        const std::lock_guard<std::mutex> lock(mutex);
        if (--running == 0)
            stopped.notify_one();
    };

    std::vector<std::thread> threads;
    if (count > 0) {
        threads.reserve(size_t(workers));
        const std::lock_guard<std::mutex> lock(mutex);
        for (int worker = 0; worker < workers; ++worker) {
            try {
                threads.emplace_back(work, worker);
                ++running;
            } catch (const std::system_error&) {
                // Out of threads: those started share the work.
                break;
            }
        }
    }
    if (count > 0 && threads.empty()) {
        running = 1;
        work(0);
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopped.wait_for(
            lock, std::chrono::milliseconds(reportMs), [&running] { return running == 0; })) {
            if (report) {
                lock.unlock();
                report(done);
                lock.lock();
            }
        }
    }
    for (std::thread& thread : threads)
        thread.join();
    if (report)
        report(done);
    if (failure)
        std::rethrow_exception(failure);
    return done == count;
}
