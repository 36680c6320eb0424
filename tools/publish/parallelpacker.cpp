// Biggest files first: a large file picked up last would keep one thread busy
// while the others have nothing left to do.
#include "parallelpacker.h"

#include "progressline.h"

#include "base/parallelfor.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <exception>
#include <numeric>
#include <vector>

namespace {

PackOutcome packOne(const PackJob& job, int level, FilePacker& packer, ByteCounter& bytesDone)
{
    if (!job.tryGzip)
        return {false, packer.copy(job.source, job.target, &bytesDone), {}};
    const QString packedTarget = job.target + QStringLiteral(".gz");
    const PackResult result = packer.gzip(job.source, packedTarget, level, &bytesDone);
    // Packing only pays when the download gets smaller.
    if (result.packed.size < result.unpacked.size)
        return {true, result.packed, result.unpacked};
    QFile::remove(packedTarget);
    return {false, packer.copy(job.source, job.target), {}};
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
    std::atomic<bool> failed {false};
    ByteCounter bytesDone {0};

    ProgressLine progress(quint64(jobs.size()), totalBytes);
    ParallelFor pool(jobs.size(), threads);
    quint64 filesDone = 0;
    pool.setProgress([&](qsizetype done) {
        filesDone = quint64(done);
        progress.update(filesDone, bytesDone);
    });
    pool.setCancel([&failed] { return failed.load(); });
    pool.runWith<FilePacker>([&](qsizetype i, FilePacker& packer) {
        const qsizetype index = order[size_t(i)];
        try {
            outcomes[size_t(index)] = packOne(jobs.at(index), level, packer, bytesDone);
        } catch (...) {
            // The failure of the earliest job is the one reported, whichever
            // thread met which first.
            failures[size_t(index)] = std::current_exception();
            failed = true;
        }
    });
    progress.finish(filesDone, bytesDone);

    for (const std::exception_ptr& failure : failures) {
        if (failure)
            std::rethrow_exception(failure);
    }
    return QList<PackOutcome>(outcomes.begin(), outcomes.end());
}
