// Benchmark: whole updates through the main task against a shell pipeline
// doing the same work, both fetching from the same nginx on loopback.
//   bench_pipeline [small|noop|large|huge|many|resume|delta|deltahuge]...   (default: all)
// small:  20,000 files of 4 KiB, fresh install, against curl (6 parallel
//         transfers), md5sum -c, cp -r and one sync;
// noop:   10,000 installed files of 100 KiB, all current, against one md5sum;
// large:  1 GiB in 8 files, fresh install, against the same pipeline;
// huge:   one 4 GiB file, memory only;
// many:   100,000 files of 1 KiB, memory only;
// resume: a 1 GiB file killed at 90 %, then run again: the bytes fetched again;
// delta:  a 1 GiB file, 1 % changed in scattered blocks plus a 64 KiB
//         insertion, updated through its binary patch: the bytes fetched
//         against the patch of `zstd --patch-from --long=31 -3` and against
//         the file, the time against the full update of the same release,
//         and the updater's anonymous memory while it applies the patch;
// deltahuge: the same with a 4 GiB file, memory only.
// wan-small, wan-large: 2,000 files of 4 KiB and one of 256 MiB, the
//         download stage against curl alone, over plain HTTP and, with a
//         certificate, over HTTPS with HTTP/2 offered (scripts/bench-wan.sh
//         runs them over a slow link; on loopback they say little).
// small also compares its download stage alone with curl's step.
// The updater runs in a child process (this program with --update), so its
// peak resident memory is its own. BENCH_DIR names where the data goes
// (default: the system's temporary directory); BENCH_SCALE (a number, default
// 1) shrinks or grows every case for a quick look. BENCH_TLS_CERT and
// BENCH_TLS_KEY (PEM files) add a mirror over HTTPS, which the updater and
// curl trust for the run; BENCH_RELAY names a program that relays the
// mirrors' ports ("<program> LISTEN:TARGET..." printing "ready"), such as
// the slow link of scripts/lib/slowlink.py.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

#include <unistd.h>

#include "benchshell.h"
#include "benchupdater.h"
#include "mirrorsfixture.h"
#include "nginxserver.h"
#include "release/deltapatch.h"
#include "release/patchindex.h"
#include "release/productentry.h"
#include "testfiles.h"
#include "testrelease.h"
#include "testsigning.h"

namespace {

constexpr qint64 mib = 1 << 20;
const QStringList mirrorNames {QStringLiteral("A"), QStringLiteral("B")};

double scale()
{
    const double value = qEnvironmentVariable("BENCH_SCALE").toDouble();
    return value > 0 ? value : 1.0;
}

int scaled(int count)
{
    return qMax(1, int(count * scale()));
}

struct Row {
    QString name;
    QString what;
    double updater = -1; // seconds, or the re-fetched share for resume
    double other = -1; // seconds of the shell side
    double ratioGoal = -1;
    double peakMiB = -1;
    bool ok = false;
    QStringList goals; // for the delta cases: one line per goal, with its figure
};

// An earlier and a later version of a big file, written block by block so
// that neither is held in memory, with their MD5 digests: the later one has
// 4 KiB changed in every 400 KiB (1 % of it) and 64 KiB inserted in the middle.
struct VersionPair {
    QString base;
    QString target;
    QString baseMd5;
    QString targetMd5;
    qint64 targetSize = 0;

    bool write(qint64 size)
    {
        constexpr qint64 chunk = 64 * mib;
        constexpr qint64 stride = 400 * 1024;
        constexpr qint64 block = 4096;
        QFile old(base);
        QFile changed(target);
        if (!old.open(QIODevice::WriteOnly) || !changed.open(QIODevice::WriteOnly))
            return false;
        QCryptographicHash oldHash(QCryptographicHash::Md5);
        QCryptographicHash newHash(QCryptographicHash::Md5);
        const qint64 middle = size / 2 / chunk * chunk;
        for (qint64 at = 0; at < size; at += chunk) {
            QByteArray data = TestFiles::noise(qMin(chunk, size - at), quint32(7 + at / chunk));
            old.write(data);
            oldHash.addData(data);
            if (at == middle) {
                const QByteArray inserted = TestFiles::noise(64 * 1024, 99);
                changed.write(inserted);
                newHash.addData(inserted);
            }
            for (qint64 offset = (stride - at % stride) % stride; offset < data.size(); offset += stride) {
                for (qint64 i = offset; i < qMin(offset + block, qint64(data.size())); ++i)
                    data[i] = char(data.at(i) ^ 0x5a);
            }
            changed.write(data);
            newHash.addData(data);
        }
        targetSize = changed.size();
        baseMd5 = QString::fromLatin1(oldHash.result().toHex());
        targetMd5 = QString::fromLatin1(newHash.result().toHex());
        return old.error() == QFile::NoError && changed.error() == QFile::NoError;
    }
};

// One case: a release on the mirrors, a client directory and the updater's
// temporary directory, all below a directory of its own that goes away
// afterwards.
class Case {
public:
    Case(const QString& base, const QString& siteUrl, const QString& mirrorRoot, TestRelease release)
        : dir(base + QStringLiteral("/case-XXXXXX"))
        , release(std::move(release))
        , siteUrl(siteUrl)
        , mirrorRoot(mirrorRoot)
    {
        setup.clientDir = dir.filePath(QStringLiteral("client"));
        setup.tempDir = dir.filePath(QStringLiteral("corvane_temp_1"));
        setup.mirrorsIni = dir.filePath(QStringLiteral("mirrors.ini"));
        setup.version = this->release.version();
    }

    ~Case() { QDir(QStringLiteral("%1/A/%2").arg(mirrorRoot).arg(setup.version)).removeRecursively(); }
    Case(const Case&) = delete;
    Case& operator=(const Case&) = delete;

    bool prepare()
    {
        QList<MirrorsFixture::Entry> mirrors;
        for (const QString& name : mirrorNames)
            mirrors.append({name, siteUrl + QLatin1Char('/') + name});
        // B is A under another name: two mirrors of three slots each give
        // the updater six transfers, as many as curl gets.
        const QString a = mirrorRoot + QStringLiteral("/A");
        return QDir().mkpath(setup.clientDir) && QDir().mkpath(setup.tempDir)
            && TestFiles::write(setup.mirrorsIni, MirrorsFixture::ini(mirrors)) && release.writeMirror(a)
            && (QFileInfo::exists(mirrorRoot + QStringLiteral("/B"))
                || QFile::link(a, mirrorRoot + QStringLiteral("/B")));
    }

    QList<BenchShell::File> shellFiles() const
    {
        QList<BenchShell::File> files;
        // The URLs are built here: looking each path up in the release would
        // take time that grows with the square of the file count.
        const QString base = QStringLiteral("%1/A/%2/").arg(siteUrl).arg(release.version());
        for (const TestRelease::Entry& entry : release.entries()) {
            files.append({base + entry.section + QLatin1Char('/') + entry.path, entry.path,
                ProductEntry::parse(entry.value).value_or(ProductEntry()).md5});
        }
        return files;
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    TestRelease release;
    QString siteUrl;
    QString mirrorRoot;
    BenchUpdater::Setup setup;
};

TestRelease filesRelease(int version, int count, qint64 size, const QString& stem)
{
    TestRelease release(version);
    for (int i = 0; i < count; ++i)
        release.addGeneratedFile(QStringLiteral("d%1/%2%3.dat").arg(i % 200).arg(stem).arg(i), size);
    return release;
}

void printUpdater(const BenchUpdater::Result& result)
{
    std::printf("  updater: %s, %.2f s (%s), peak %.1f MiB\n", result.ok ? "finished" : "FAILED",
        result.seconds, qPrintable(result.stages), result.peakMiB);
    for (const QString& line : result.failures)
        std::printf("    %s\n", qPrintable(line));
}

void printShell(const char* name, const BenchShell::Timing& timing)
{
    if (timing.ok)
        std::printf("  %s: %.2f s (%s)\n", name, timing.seconds, qPrintable(timing.steps));
    else
        std::printf("  %s: FAILED: %s\n", name, qPrintable(timing.failure));
}

class Bench {
public:
    Bench(const QString& program, const QString& base, const NginxServer& server, const QStringList& siteUrls,
        const QString& mirrorRoot)
        : program(program)
        , base(base)
        , server(server)
        , siteUrls(siteUrls)
        , mirrorRoot(mirrorRoot)
    {
    }

    enum Shell {
        Pipeline, // a fresh install against curl, md5sum -c, cp -r and sync
        Md5sum, // everything installed and current: the updater's check against one md5sum
        Nothing, // the updater alone, for its memory
    };

    Row measure(const QString& name, const QString& what, TestRelease release, Shell shell, double goal = -1)
    {
        Row row = begin(name, what);
        row.ratioGoal = goal;
        Case c(base, siteUrls.at(0), mirrorRoot, std::move(release));
        if (!c.prepare() || (shell == Md5sum && !c.release.install(c.setup.clientDir)))
            return row;
        // Both sides flush what they write; neither pays for the mirror's
        // files or for what the other left to be written back.
        ::sync();
        const BenchUpdater::Result updater = BenchUpdater::run(program, c.setup);
        printUpdater(updater);
        BenchShell::Timing timing;
        timing.ok = true;
        ::sync();
        if (shell == Pipeline) {
            timing = BenchShell::pipeline(c.shellFiles(), c.path(QStringLiteral("pipeline")),
                c.path(QStringLiteral("pipeline-client")));
            printShell("pipeline", timing);
        } else if (shell == Md5sum) {
            timing =
                BenchShell::md5sum(c.shellFiles(), c.setup.clientDir, c.path(QStringLiteral("pipeline")));
            printShell("md5sum", timing);
        }
        row.ok = updater.ok && timing.ok;
        row.updater = updater.seconds;
        row.other = shell == Nothing ? -1 : timing.seconds;
        row.peakMiB = updater.peakMiB;
        if (shell == Pipeline && timing.ok) {
            downloadRow = Row();
            downloadRow.name = name + QStringLiteral("-dl");
            downloadRow.what = QStringLiteral("its download stage against curl");
            downloadRow.ok = updater.ok;
            downloadRow.updater = updater.downloadSeconds;
            downloadRow.other = timing.stepSeconds.value(0);
            downloadRow.ratioGoal = 2.0;
            downloadRow.peakMiB = updater.peakMiB;
        }
        return row;
    }

    // The download stage of a fresh install against curl alone, once per
    // mirror site (plain HTTP, then HTTPS when there is a certificate).
    QList<Row> transfer(const QString& name, const QString& what, const std::function<TestRelease()>& release,
        double goal, const QString& certificate)
    {
        QList<Row> rows;
        for (const QString& url : siteUrls) {
            const bool secure = url.startsWith(QLatin1String("https:"));
            Row row = begin(name + (secure ? QStringLiteral("-tls") : QString()),
                what + (secure ? QStringLiteral(", HTTPS") : QStringLiteral(", HTTP")));
            row.ratioGoal = secure ? -1 : goal;
            Case c(base, url, mirrorRoot, release());
            if (!c.prepare()) {
                rows.append(row);
                continue;
            }
            if (secure)
                c.setup.caFile = certificate;
            const int site = secure ? 1 : 0;
            const qsizetype before = server.accessLog(site).size();
            const BenchUpdater::Result updater = BenchUpdater::run(program, c.setup);
            printUpdater(updater);
            const qsizetype between = server.accessLog(site).size();
            const QStringList curlArguments =
                secure ? QStringList {QStringLiteral("--cacert"), certificate} : QStringList();
            const BenchShell::Timing timing =
                BenchShell::curl(c.shellFiles(), c.path(QStringLiteral("curl")), curlArguments);
            printShell("curl", timing);
            std::printf("  requests: updater %s; curl %s\n", qPrintable(protocols(site, before, between)),
                qPrintable(protocols(site, between, server.accessLog(site).size())));
            row.ok = updater.ok && timing.ok;
            row.updater = updater.downloadSeconds;
            row.other = timing.seconds;
            row.peakMiB = updater.peakMiB;
            rows.append(row);
        }
        return rows;
    }

    // The row a Pipeline case leaves for its download stage alone.
    Row downloadRow;

    // Kills the updater once 90 % of the file is on disk, runs it again and
    // counts what the mirror sent the second time.
    Row resume(const QString& name, const QString& what, qint64 size)
    {
        Row row = begin(name, what);
        TestRelease release(1006);
        const QString file = QStringLiteral("big/resume.bin");
        release.addGeneratedFile(file, size);
        Case c(base, siteUrls.at(0), mirrorRoot, std::move(release));
        if (!c.prepare())
            return row;
        const QString uri = QStringLiteral("/1006/files/") + file;
        const BenchUpdater::Result first = BenchUpdater::runAndKill(
            program, c.setup, c.setup.tempDir + QLatin1Char('/') + file, size * 9 / 10);
        const qint64 sentBefore = server.bytesSent(0, uri);
        std::printf("  first run: %s after %.1f MiB sent\n", first.killed ? "killed" : "NOT KILLED",
            double(sentBefore) / mib);
        const BenchUpdater::Result second = BenchUpdater::run(program, c.setup);
        printUpdater(second);
        const qint64 again = server.bytesSent(0, uri) - sentBefore;
        std::printf("  fetched again: %.1f MiB of %.1f MiB (%.1f %%)\n", double(again) / mib,
            double(size) / mib, 100.0 * double(again) / double(size));
        row.ok = first.killed && second.ok;
        row.updater = double(again) / double(size);
        row.peakMiB = second.peakMiB;
        return row;
    }

    // The client has version 1 of one big file; the release publishes
    // version 2 twice, as it is and with a patch from version 1 beside it.
    Row delta(const QString& name, const QString& what, qint64 size, bool againstFull)
    {
        Row row = begin(name, what);
        QTemporaryDir work(base + QStringLiteral("/delta-XXXXXX"));
        VersionPair pair;
        pair.base = work.filePath(QStringLiteral("base"));
        pair.target = work.filePath(QStringLiteral("target"));
        const QString file = QStringLiteral("big/delta.bin");
        const QString patch = work.filePath(QStringLiteral("patch"));
        QByteArray patchMd5;
        quint64 patchSize = 0;
        QString error;
        QElapsedTimer clock;
        clock.start();
        if (!pair.write(size)
            || !DeltaPatch::make(pair.base, pair.target, patch, {}, &patchMd5, &patchSize, &error)) {
            std::printf("  making the versions or the patch failed: %s\n", qPrintable(error));
            return row;
        }
        std::printf("  patch: %.2f MiB, made in %.1f s\n", double(patchSize) / mib, clock.elapsed() / 1000.0);
        const qint64 stockSize =
            againstFull ? stockPatchSize(pair, work.filePath(QStringLiteral("stock.zst"))) : -1;

        const auto release = [&](int version) {
            TestRelease r(version);
            ProductEntry entry;
            entry.md5 = pair.targetMd5;
            entry.size = quint64(pair.targetSize);
            r.addRawEntry(TestRelease::defaultSection(), file, entry.toText());
            return r;
        };
        const int version = 1007 + (againstFull ? 0 : 2);
        Case full(base, siteUrls.at(0), mirrorRoot, release(version));
        Case patched(base, siteUrls.at(0), mirrorRoot, release(version + 1));
        const QString patchedRoot = QStringLiteral("%1/A/%2/").arg(mirrorRoot).arg(version + 1);
        PatchIndex index;
        index.add(1,
            PatchEntry {file, pair.baseMd5, quint64(size), pair.targetMd5, QString::fromLatin1(patchMd5),
                patchSize, QStringLiteral("patches/1/") + file});
        const QString indexPath = patchedRoot + QStringLiteral("client_linux_amd64.patches.ini");
        bool ready = full.prepare() && patched.prepare() && index.write(indexPath, &error)
            && TestFiles::write(indexPath + QStringLiteral(".sig"),
                TestSigning::sign(TestFiles::read(indexPath), TestSigning::devPrivateKeyPath()))
            && QDir().mkpath(patchedRoot + QStringLiteral("patches/1/big"))
            && QFile::link(patch, patchedRoot + QStringLiteral("patches/1/") + file);
        for (Case* c : {&full, &patched}) {
            const QString root = QStringLiteral("%1/A/%2/").arg(mirrorRoot).arg(c->setup.version);
            ready = ready && QDir().mkpath(root + TestRelease::defaultSection() + QStringLiteral("/big"))
                && QFile::link(pair.target, root + TestRelease::defaultSection() + QLatin1Char('/') + file)
                && QDir().mkpath(c->setup.clientDir + QStringLiteral("/big"))
                && QFile::copy(pair.base, c->setup.clientDir + QLatin1Char('/') + file);
        }
        if (!ready) {
            std::printf("  setting up the mirror failed: %s\n", qPrintable(error));
            return row;
        }
        BenchUpdater::Result whole;
        if (againstFull) {
            ::sync();
            whole = BenchUpdater::run(program, full.setup);
            printUpdater(whole);
        }
        ::sync();
        const qint64 sentBefore = server.bytesSent(0);
        const BenchUpdater::Result update = BenchUpdater::run(program, patched.setup);
        const qint64 fetched = server.bytesSent(0) - sentBefore;
        printUpdater(update);
        std::printf("  anonymous memory at its peak: %.1f MiB\n", update.peakAnonMiB);
        const QString site = QStringLiteral("%1/A/").arg(siteUrls.at(0));
        const Stock stock = againstFull
            ? stockUpdates(work,
                {site + QStringLiteral("%1/%2/%3").arg(version).arg(TestRelease::defaultSection(), file),
                    file, pair.targetMd5},
                {site + QStringLiteral("%1/patches/1/%2").arg(version + 1).arg(file),
                    file + QStringLiteral(".zst"), QString::fromLatin1(patchMd5)},
                pair)
            : Stock();
        row.ok =
            update.ok && (!againstFull || (whole.ok && stockSize > 0 && stock.full.ok && stock.delta.ok));
        row.updater = update.seconds;
        row.other = againstFull ? whole.seconds : -1;
        row.peakMiB = update.peakMiB;
        const QString mibText = QString::number(double(size) / mib, 'f', 0);
        if (againstFull) {
            row.goals << QStringLiteral(
                "1  bytes fetched, %1 MiB file: %2 = %3 x zstd's patch (%4), %5 % of the file"
                " (goals: 1.1 x, 2 %)")
                             .arg(mibText)
                             .arg(fetched)
                             .arg(double(fetched) / double(stockSize), 0, 'f', 2)
                             .arg(stockSize)
                             .arg(100.0 * double(fetched) / double(size), 0, 'f', 2);
            row.goals << QStringLiteral("2  delta update %1 s, full update %2 s: %3 x (goal: 0.5 x);"
                                        " the same two updates with the stock tools: %4 s, %5 s: %6 x")
                             .arg(update.seconds, 0, 'f', 2)
                             .arg(whole.seconds, 0, 'f', 2)
                             .arg(update.seconds / whole.seconds, 0, 'f', 2)
                             .arg(stock.delta.seconds, 0, 'f', 2)
                             .arg(stock.full.seconds, 0, 'f', 2)
                             .arg(stock.delta.seconds / stock.full.seconds, 0, 'f', 2);
        }
        row.goals << QStringLiteral("3  anonymous memory applying the patch to %1 MiB: %2 MiB (goal: 64 MiB)")
                         .arg(mibText)
                         .arg(update.peakAnonMiB, 0, 'f', 1);
        return row;
    }

private:
    struct Stock {
        BenchShell::Timing full;
        BenchShell::Timing delta;
    };

    // The two updates of the delta case done by the stock tools: the
    // installed file checked (md5sum), then the new file fetched, checked,
    // copied and flushed, or the patch fetched, checked, applied by zstd and
    // its result checked, copied and flushed.
    static Stock stockUpdates(const QTemporaryDir& work, const BenchShell::File& whole,
        const BenchShell::File& patch, const VersionPair& pair)
    {
        const QFileInfo installed(pair.base);
        const QList<BenchShell::File> check {{QString(), installed.fileName(), pair.baseMd5}};
        const auto update = [&](const QString& name, const BenchShell::File& fetched,
                                const std::optional<BenchShell::Patch>& apply) {
            ::sync();
            BenchShell::Timing timing = BenchShell::md5sum(check, installed.path(), work.filePath(name));
            const BenchShell::Timing rest = BenchShell::pipeline(
                {fetched}, work.filePath(name), work.filePath(name + QStringLiteral("-client")), apply);
            timing.ok = timing.ok && rest.ok;
            timing.seconds += rest.seconds;
            timing.steps += QStringLiteral(", ") + rest.steps;
            timing.failure += rest.failure;
            printShell(qPrintable(QStringLiteral("stock tools, ") + name), timing);
            return timing;
        };
        Stock stock;
        stock.full = update(QStringLiteral("full"), whole, std::nullopt);
        stock.delta = update(QStringLiteral("delta"), patch,
            BenchShell::Patch {patch.path, pair.base, {QString(), whole.path, whole.md5}});
        return stock;
    }

    // The size of the patch that stock zstd makes for the pair, -1 without the tool.
    static qint64 stockPatchSize(const VersionPair& pair, const QString& output)
    {
        const QString zstd = QStandardPaths::findExecutable(QStringLiteral("zstd"));
        if (zstd.isEmpty())
            return -1;
        QElapsedTimer clock;
        clock.start();
        QProcess tool;
        tool.start(zstd,
            {QStringLiteral("-q"), QStringLiteral("-f"), QStringLiteral("-3"), QStringLiteral("--long=31"),
                QStringLiteral("--patch-from=") + pair.base, pair.target, QStringLiteral("-o"), output});
        if (!tool.waitForFinished(-1) || tool.exitCode() != 0)
            return -1;
        const qint64 size = QFileInfo(output).size();
        std::printf("  zstd --patch-from --long=31 -3: %.2f MiB in %.1f s\n", double(size) / mib,
            clock.elapsed() / 1000.0);
        return size;
    }

    static Row begin(const QString& name, const QString& what)
    {
        std::printf("%s: %s\n", qPrintable(name), qPrintable(what));
        std::fflush(stdout);
        Row row;
        row.name = name;
        row.what = what;
        return row;
    }

    // The protocols of the requests a site logged from line first to before
    // line end, counted: "HTTP/2.0 x2001".
    QString protocols(int site, qsizetype first, qsizetype end) const
    {
        QMap<QString, int> counts;
        const QStringList log = server.accessLog(site);
        for (qsizetype i = first; i < end && i < log.size(); ++i) {
            const QStringList fields = log.at(i).split(QLatin1Char(' '));
            if (fields.size() >= 2)
                ++counts[fields.at(fields.size() - 2)];
        }
        QStringList text;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            text.append(QStringLiteral("%1 x%2").arg(it.key()).arg(it.value()));
        return text.join(QStringLiteral(", "));
    }

    QString program;
    QString base;
    const NginxServer& server;
    QStringList siteUrls;
    QString mirrorRoot;
};

void printSummary(const QList<Row>& rows)
{
    std::printf("\n%-13s %-38s %9s %9s %6s %6s %9s\n", "case", "work", "updater", "shell", "ratio", "goal",
        "peak MiB");
    for (const Row& row : rows) {
        if (!row.ok) {
            std::printf("%-13s %-38s FAILED\n", qPrintable(row.name), qPrintable(row.what));
            continue;
        }
        if (row.name == QLatin1String("resume")) {
            std::printf("%-13s %-38s %8.1f%% %9s %6s %6s %9.1f\n", qPrintable(row.name), qPrintable(row.what),
                row.updater * 100, "-", "-", "15%", row.peakMiB);
            continue;
        }
        const QString other =
            row.other >= 0 ? QString::number(row.other, 'f', 2) + QStringLiteral(" s") : QStringLiteral("-");
        const QString ratio =
            row.other > 0 ? QString::number(row.updater / row.other, 'f', 2) : QStringLiteral("-");
        const QString goal = row.ratioGoal > 0 ? QString::number(row.ratioGoal, 'g', 3) : QStringLiteral("-");
        std::printf("%-13s %-38s %7.2f s %9s %6s %6s %9.1f\n", qPrintable(row.name), qPrintable(row.what),
            row.updater, qPrintable(other), qPrintable(ratio), qPrintable(goal), row.peakMiB);
    }
    std::printf("peak MiB: the updater process's peak resident memory (goal: at most 64)\n");
    bool deltas = false;
    for (const Row& row : rows) {
        if (row.goals.isEmpty())
            continue;
        if (!deltas)
            std::printf("\nbinary patches, goal by goal:\n");
        deltas = true;
        for (const QString& line : row.goals)
            std::printf("  %s\n", qPrintable(line));
    }
    std::printf(
        "*-dl, wan-*: the updater's download stage against curl alone; *-tls: HTTPS, HTTP/2 offered\n");
}

// Puts the relay of BENCH_RELAY between the clients and every site, and the
// relay's ports into siteUrls.
bool startRelay(QProcess& relay, const NginxServer& server, QStringList& siteUrls)
{
    QStringList arguments;
    for (int i = 0; i < siteUrls.size(); ++i) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return false;
        const quint16 port = probe.serverPort();
        probe.close();
        arguments.append(QStringLiteral("%1:%2").arg(port).arg(server.port(i)));
        siteUrls[i].replace(QStringLiteral(":%1").arg(server.port(i)), QStringLiteral(":%1").arg(port));
    }
    relay.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    relay.start(qEnvironmentVariable("BENCH_RELAY"), arguments);
    if (!relay.waitForReadyRead(10000) || !relay.readLine().startsWith("ready")) {
        std::fprintf(stderr, "the relay %s did not start\n", qPrintable(qEnvironmentVariable("BENCH_RELAY")));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList which = app.arguments().mid(1);
    if (which.value(0) == QLatin1String("--update"))
        return BenchUpdater::childMain(which);
    if (which.isEmpty()) {
        which = QStringList {QStringLiteral("small"), QStringLiteral("noop"), QStringLiteral("large"),
            QStringLiteral("huge"), QStringLiteral("many"), QStringLiteral("resume"), QStringLiteral("delta"),
            QStringLiteral("deltahuge")};
    }
    if (!TestRelease::hasSigningKey()) {
        std::fprintf(stderr, "this build embeds a publisher's key; nothing can be signed\n");
        return 0;
    }
    if (NginxServer::binary().isEmpty()) {
        std::fprintf(stderr, "nginx is not installed\n");
        return 0;
    }

    const QString base =
        qEnvironmentVariableIsSet("BENCH_DIR") ? qEnvironmentVariable("BENCH_DIR") : QDir::tempPath();
    QTemporaryDir serverDir(base + QStringLiteral("/bench-server-XXXXXX"));
    const QString mirrorRoot = serverDir.filePath(QStringLiteral("mirror"));
    NginxServer server;
    QList<NginxServer::Site> sites(1);
    sites[0].root = mirrorRoot;
    const QString certificate = qEnvironmentVariable("BENCH_TLS_CERT");
    if (!certificate.isEmpty()) {
        NginxServer::Site secure;
        secure.root = mirrorRoot;
        secure.certificate = certificate;
        secure.key = qEnvironmentVariable("BENCH_TLS_KEY");
        sites.append(secure);
    }
    if (!QDir().mkpath(mirrorRoot) || !server.start(serverDir.filePath(QStringLiteral("nginx")), sites)) {
        std::fprintf(stderr, "nginx did not start: %s\n", qPrintable(server.errorText()));
        return 1;
    }
    QStringList siteUrls;
    for (int i = 0; i < sites.size(); ++i)
        siteUrls.append(server.url(i));
    QProcess relay;
    if (qEnvironmentVariableIsSet("BENCH_RELAY") && !startRelay(relay, server, siteUrls))
        return 1;

    Bench bench(app.applicationFilePath(), base, server, siteUrls, mirrorRoot);
    QList<Row> rows;
    const int small = scaled(20000);
    const int noop = scaled(10000);
    const int many = scaled(100000);
    const qint64 large = qMax<qint64>(mib, qint64(1024 * mib * scale()));
    const qint64 huge = qMax<qint64>(mib, qint64(4096 * mib * scale()));
    const int wanSmall = scaled(2000);
    const qint64 wanLarge = qMax<qint64>(mib, qint64(256 * mib * scale()));
    for (const QString& name : std::as_const(which)) {
        if (name == QLatin1String("small")) {
            rows.append(bench.measure(name, QStringLiteral("%1 files of 4 KiB, fresh").arg(small),
                filesRelease(1001, small, 4096, QStringLiteral("s")), Bench::Pipeline, 1.0));
            rows.append(bench.downloadRow);
        } else if (name == QLatin1String("noop")) {
            rows.append(bench.measure(name, QStringLiteral("%1 files of 100 KiB, all current").arg(noop),
                filesRelease(1002, noop, 100 * 1024, QStringLiteral("n")), Bench::Md5sum, 0.6));
        } else if (name == QLatin1String("large")) {
            rows.append(bench.measure(name, QStringLiteral("%1 MiB in 8 files, fresh").arg(large / mib),
                filesRelease(1003, 8, large / 8, QStringLiteral("l")), Bench::Pipeline, 0.8));
        } else if (name == QLatin1String("huge")) {
            rows.append(bench.measure(name, QStringLiteral("one file of %1 MiB, fresh").arg(huge / mib),
                filesRelease(1004, 1, huge, QStringLiteral("h")), Bench::Nothing));
        } else if (name == QLatin1String("many")) {
            rows.append(bench.measure(name, QStringLiteral("%1 files of 1 KiB, fresh").arg(many),
                filesRelease(1005, many, 1024, QStringLiteral("m")), Bench::Nothing));
        } else if (name == QLatin1String("wan-small")) {
            rows += bench.transfer(
                name, QStringLiteral("%1 files of 4 KiB").arg(wanSmall),
                [wanSmall] { return filesRelease(1007, wanSmall, 4096, QStringLiteral("w")); }, 1.1,
                certificate);
        } else if (name == QLatin1String("wan-large")) {
            rows += bench.transfer(
                name, QStringLiteral("one file of %1 MiB").arg(wanLarge / mib),
                [wanLarge] { return filesRelease(1008, 1, wanLarge, QStringLiteral("x")); }, 1.05,
                certificate);
        } else if (name == QLatin1String("resume")) {
            rows.append(bench.resume(
                name, QStringLiteral("%1 MiB, killed at 90 %, run again").arg(large / mib), large));
        } else if (name == QLatin1String("delta")) {
            rows.append(bench.delta(
                name, QStringLiteral("%1 MiB, 1 % changed, through a patch").arg(large / mib), large, true));
        } else if (name == QLatin1String("deltahuge")) {
            rows.append(bench.delta(
                name, QStringLiteral("%1 MiB, 1 % changed, through a patch").arg(huge / mib), huge, false));
        } else {
            std::fprintf(stderr, "unknown case %s\n", qPrintable(name));
            return 2;
        }
        std::fflush(stdout);
    }
    printSummary(rows);
    relay.terminate();
    relay.waitForFinished(5000);
    bool ok = true;
    for (const Row& row : std::as_const(rows))
        ok = ok && row.ok;
    return ok ? 0 : 1;
}
