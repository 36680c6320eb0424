// A patch costs the compressor about as much as the file it gives: the jobs
// run biggest first on every thread, one patch per job, each written whole by
// one thread, so the bytes do not depend on the thread that made them.
#include "patchmaker.h"

#include "filepacker.h"
#include "posixfile.h"
#include "progressline.h"
#include "publishexit.h"

#include "base/parallelfor.h"
#include "release/releasenames.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <vector>

namespace {

// One patch to make: target's content from base's.
struct PatchJob {
    const PatchTarget* target;
    const EarlierFile* base;
    int baseVersion; // the first earlier version that installed base
    QString patchPath; // below the version folder
};

struct JobOutcome {
    bool kept = false;
    QByteArray md5;
    quint64 size = 0;
};

QString patchPathOf(int version, const QString& installedPath)
{
    // The installed paths of a release are one path each and never a file
    // and a folder at once, so below a version's folder neither are these.
    return ReleaseNames::patchFolder() + QLatin1Char('/') + QString::number(version) + QLatin1Char('/')
        + installedPath;
}

// The earlier content as a file to map: the published file, or its unpacked
// form in scratch. Checked against what the earlier product ini lists, since
// that is what clients have installed.
QString baseContent(const PatchJob& job, const QString& scratch, FilePacker& packer)
{
    const FileDigest found = job.base->entry.isPacked() ? packer.gunzip(job.base->mirrorPath, scratch)
                                                        : packer.digest(job.base->mirrorPath);
    if (found.md5 != job.base->installedMd5().toLatin1() || found.size != job.base->installedSize())
        throw ToolError(PublishInput,
            QStringLiteral("%1 of version %2 is not what its product ini lists")
                .arg(job.base->mirrorPath)
                .arg(job.baseVersion));
    return job.base->entry.isPacked() ? scratch : job.base->mirrorPath;
}

JobOutcome makeOne(const PatchJob& job, const QString& versionFolder, const QString& scratch,
    const DeltaPatch::MakeOptions& options, FilePacker& packer)
{
    const QString base = baseContent(job, scratch, packer);
    const QString patch = versionFolder + QLatin1Char('/') + job.patchPath;
    JobOutcome outcome;
    QString error;
    const bool made =
        DeltaPatch::make(base, job.target->source, patch, options, &outcome.md5, &outcome.size, &error);
    if (base == scratch)
        QFile::remove(scratch);
    if (!made)
        throw ToolError(PublishOutput, QStringLiteral("Cannot make the patch %1: %2").arg(patch, error));
    // A patch costs the client a second file to fetch and the work of
    // applying it; only a clear saving pays for that.
    outcome.kept = double(outcome.size) <= keptPatchShare * double(job.target->downloadSize);
    if (!outcome.kept)
        QFile::remove(patch);
    return outcome;
}

} // namespace

PatchIndex makePatches(const QList<PatchTarget>& targets, const QList<EarlierRelease>& earlier,
    const QString& versionFolder, const QString& scratchDir, int threads, PatchSummary& summary,
    const DeltaPatch::MakeOptions& options)
{
    // Plan: a job per target and distinct earlier content; each earlier
    // version's entry names the job whose patch it uses.
    QList<PatchJob> jobs;
    QHash<QString, qsizetype> jobOfContent; // installed path + earlier MD5
    QList<QList<QPair<const PatchTarget*, qsizetype>>> uses(earlier.size());
    for (const PatchTarget& target : targets) {
        if (!PatchEntry::canCarry(target.installedPath))
            continue;
        for (qsizetype e = 0; e < earlier.size(); ++e) {
            const auto base = earlier.at(e).files.constFind(target.installedPath);
            // An unchanged file is current in the client already.
            if (base == earlier.at(e).files.cend() || base->installedMd5() == target.md5)
                continue;
            const QString content = target.installedPath + QLatin1Char('\n') + base->installedMd5();
            auto job = jobOfContent.constFind(content);
            if (job == jobOfContent.cend()) {
                jobs.append({&target, &*base, earlier.at(e).version,
                    patchPathOf(earlier.at(e).version, target.installedPath)});
                job = jobOfContent.insert(content, jobs.size() - 1);
            }
            uses[e].append({&target, *job});
        }
    }
    QSet<QString> folders;
    for (const PatchJob& job : std::as_const(jobs))
        folders.insert(QFileInfo(versionFolder + QLatin1Char('/') + job.patchPath).path());
    for (const QString& folder : std::as_const(folders))
        makeFolders(folder);

    std::vector<qsizetype> order(size_t(jobs.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
        [&jobs](qsizetype a, qsizetype b) { return jobs.at(a).target->size > jobs.at(b).target->size; });
    quint64 totalBytes = 0;
    for (const PatchJob& job : std::as_const(jobs))
        totalBytes += job.target->size;

    std::vector<JobOutcome> outcomes(size_t(jobs.size()));
    std::atomic<quint64> bytesDone {0};
    ProgressLine progress(quint64(jobs.size()), totalBytes, "Patching");
    ParallelFor pool(jobs.size(), threads);
    quint64 jobsDone = 0;
    pool.setProgress([&](qsizetype done) {
        jobsDone = quint64(done);
        progress.update(jobsDone, bytesDone);
    });
    pool.runWith<FilePacker>([&](qsizetype i, FilePacker& packer) {
        const qsizetype index = order[size_t(i)];
        const QString scratch = scratchDir + QStringLiteral("/base-%1").arg(index);
        outcomes[size_t(index)] = makeOne(jobs.at(index), versionFolder, scratch, options, packer);
        bytesDone += jobs.at(index).target->size;
    });
    progress.finish(jobsDone, bytesDone);

    PatchIndex index;
    for (qsizetype e = 0; e < earlier.size(); ++e) {
        for (const auto& [target, job] : std::as_const(uses[e])) {
            const JobOutcome& outcome = outcomes[size_t(job)];
            if (!outcome.kept)
                continue;
            PatchEntry entry;
            entry.target = target->installedPath;
            entry.baseMd5 = jobs.at(job).base->installedMd5();
            entry.baseSize = jobs.at(job).base->installedSize();
            entry.targetMd5 = target->md5;
            entry.patchMd5 = QString::fromLatin1(outcome.md5);
            entry.patchSize = outcome.size;
            entry.patchPath = jobs.at(job).patchPath;
            index.add(earlier.at(e).version, entry);
        }
    }
    for (qsizetype job = 0; job < jobs.size(); ++job) {
        if (outcomes[size_t(job)].kept) {
            ++summary.patches;
            summary.patchBytes += outcomes[size_t(job)].size;
            summary.replacedBytes += jobs.at(job).target->downloadSize;
        }
    }
    return index;
}
