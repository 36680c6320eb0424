// Runs one piece of work for every index of a range on all cores at once,
// with progress on the calling thread and a cancel.
#pragma once

#include <QtGlobal>

#include <functional>
#include <vector>

/// Calls a body once for every index of [0, count) on threads of its own,
/// started for run() and ended before it returns. A thread takes the next
/// index whenever it becomes free, so a few long items do not leave the
/// other cores idle; which thread handles an index and in which order the
/// indexes end is not defined, so a body writes only what belongs to its
/// index (and to its worker, see run()).
///
/// The calling thread does none of the work: it reports progress and waits.
/// Not a QObject; one run at a time.
class ParallelFor final {
public:
    /// maxWorkers 0 or less: one thread per core.
    explicit ParallelFor(qsizetype count, int maxWorkers = 0);

    /// The threads run() uses: at most maxWorkers, never more than count,
    /// at least one.
    int workerCount() const { return workers; }
    /// report(done) runs on the calling thread about every everyMs while the
    /// work goes on, and once more at the end with the final number of
    /// indexes whose body has returned.
    void setProgress(std::function<void(qsizetype done)> report, int everyMs = 100);
    /// Asked on the worker threads, concurrently, before each index: once it
    /// says true no further index starts; bodies under way run to their end.
    void setCancel(std::function<bool()> cancelled);

    /// body(index, worker) for every index; worker, in [0, workerCount()),
    /// names the thread, for state a thread keeps from item to item. True
    /// when the body ran for every index, false after a cancel. An exception
    /// out of a body stops further indexes like a cancel and is thrown here
    /// once every thread has stopped (that of the lowest index, if several).
    bool run(const std::function<void(qsizetype index, int worker)>& body);

    /// run() with one State per thread (made here, default-constructed),
    /// handed to every body on that thread: a buffer, a digest, a stream.
    template<typename State>
    bool runWith(const std::function<void(qsizetype index, State& state)>& body)
    {
        std::vector<State> states(static_cast<size_t>(workers));
        return run([&body, &states](qsizetype index, int worker) { body(index, states[size_t(worker)]); });
    }

private:
    qsizetype count;
    int workers;
    std::function<void(qsizetype)> report;
    int reportMs = 100;
    std::function<bool()> cancelled;
};
