// Checks of many files on one worker thread per core.
#include "filecheckpool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "crypto/filemd5.h"

namespace FileCheckPool {

void run(int count, int threads, const std::function<void(int index, FileMd5& md5)>& check,
    const std::function<void(int done)>& report, int reportMs)
{
    std::atomic<int> next {0};
    std::atomic<int> done {0};
    std::mutex mutex;
    std::condition_variable allDone;
    int running = std::max(1, std::min(threads, count));

    // Workers take the next index as they become free, so a few large files
    // do not leave the other cores idle behind one of them.
    auto work = [&] {
        FileMd5 md5;
        for (int index = next++; index < count; index = next++) {
            check(index, md5);
            ++done;
        }
        const std::lock_guard<std::mutex> lock(mutex);
        if (--running == 0)
            allDone.notify_one();
    };

    std::vector<std::thread> workers;
    const int workerCount = running;
    workers.reserve(size_t(workerCount));
    for (int i = 0; i < workerCount; ++i)
        workers.emplace_back(work);
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (running > 0) {
            if (!allDone.wait_for(lock, std::chrono::milliseconds(reportMs), [&] { return running == 0; })) {
                lock.unlock();
                report(done.load());
                lock.lock();
            }
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    report(count);
}

} // namespace FileCheckPool
