// Wall time of corvane-publish --gzip on a client-sized release beside
// `tar czf` of the same tree, and with --levels the size and time of every
// packing level.
// With --delta: publishing a second version with --delta-from the first,
// against the stock zstd command line making the same patches one after the
// other (every program and media file has 1 % of it changed).
// Usage: bench_publish [--levels | --delta] [--threads N] [--scale PERCENT, default 100]
// The release: about 5,000 files and 368 MB at scale 100, in three kinds
// that a client ships: text (scripts, configuration, translations; packs
// about 4:1), program code and data (packs about 2:1) and media that are
// packed already (incompressible). Same seed, same bytes, every run.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

#include "testfiles.h"
#include "testsigning.h"

namespace {

constexpr qint64 megabyte = 1000 * 1000;

// xorshift64*: fast, and the same stream on every machine.
class Noise {
public:
    explicit Noise(quint64 seed)
        : state(seed * 0x9E3779B97F4A7C15ull + 1)
    {
    }
    quint64 next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    int below(int n) { return int(next() % quint64(n)); }

private:
    quint64 state;
};

QByteArray textData(Noise& noise, qint64 size)
{
    static const char* const words[] = {"client", "update", "mirror", "version", "window", "player", "server",
        "texture", "sound", "config", "value", "enabled", "true", "false", "level", "render", "shader",
        "network", "port", "timeout", "language", "Grüße", "Straße", "menu", "button", "label", "return",
        "function", "local", "if", "then", "end", "for", "in", "pairs", "self", "nil", "0", "1", "255", "0.5",
        "=", "{", "}", "(", ")"};
    constexpr int wordCount = int(sizeof words / sizeof *words);
    QByteArray data;
    data.reserve(size + 64);
    while (data.size() < size) {
        const int indent = noise.below(4) * 4;
        data.append(QByteArray(indent, ' '));
        for (int n = 2 + noise.below(9); n > 0; --n) {
            data.append(words[noise.below(wordCount)]);
            data.append(' ');
        }
        data.append('\n');
    }
    data.truncate(size);
    return data;
}

// Half of it repeats, slightly changed, what came shortly before, as code
// and tables do; the rest is noise.
QByteArray codeData(Noise& noise, qint64 size)
{
    constexpr int chunk = 64;
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 at = 0; at < size; at += chunk) {
        const qint64 len = qMin<qint64>(chunk, size - at);
        if (at >= 4096 && noise.below(2) == 0) {
            const qint64 from = at - chunk * (1 + noise.below(int(qMin<qint64>(at, 16384) / chunk)));
            std::memcpy(data.data() + at, data.constData() + from, size_t(len));
            data[at + noise.below(int(len))] = char(noise.next());
        } else {
            for (qint64 i = 0; i < len; ++i)
                data[at + i] = char(noise.next() >> 56);
        }
    }
    return data;
}

QByteArray mediaData(Noise& noise, qint64 size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data)
        c = char(noise.next() >> 56);
    return data;
}

struct Tree {
    int files = 0;
    qint64 bytes = 0;
};

bool makeRelease(const QString& root, int scale, Tree& tree)
{
    Noise noise(20240612);
    const auto add = [&](const QString& path, const QByteArray& data) {
        ++tree.files;
        tree.bytes += data.size();
        return TestFiles::write(root + QLatin1Char('/') + path, data);
    };
    // Counts and sizes at scale 100: 4,300 text files of 0.5 to 16 KB, 600
    // code and data files of 40 to 480 KB, 100 media files of 0.6 to 2.4 MB
    // and one 30 MB program.
    for (int i = 0; i < 4300 * scale / 100; ++i) {
        if (!add(QStringLiteral("data/scripts/%1/file%2.lua").arg(i % 40).arg(i),
                textData(noise, 500 + noise.below(15500))))
            return false;
    }
    for (int i = 0; i < 600 * scale / 100; ++i) {
        if (!add(QStringLiteral("lib/module%1/part%2.so").arg(i % 25).arg(i),
                codeData(noise, 40000 + noise.below(440000))))
            return false;
    }
    for (int i = 0; i < 100 * scale / 100; ++i) {
        if (!add(QStringLiteral("media/pack%1/asset%2.ogg").arg(i % 10).arg(i),
                mediaData(noise, 600000 + noise.below(1800000))))
            return false;
    }
    return add(QStringLiteral("bin/corvane"), codeData(noise, 30 * megabyte * scale / 100));
}

qint64 treeBytes(const QString& root)
{
    qint64 total = 0;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

// Seconds the program took, or a negative number when it failed.
double timed(const QString& program, const QStringList& args, const QString& workDir = QString())
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return -1;
    return double(clock.nsecsElapsed()) / 1e9;
}

// Copies the release to root with 1 % of every program, library and media
// file changed in scattered 4 KiB blocks; gives those files' paths.
QStringList makeChangedRelease(const QString& from, const QString& root)
{
    QStringList changed;
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(from).relativeFilePath(it.next());
        QByteArray data = TestFiles::read(it.filePath());
        if (!path.endsWith(QLatin1String(".lua"))) {
            for (qsizetype at = 1000; at < data.size(); at += 400 * 1024) {
                for (qsizetype i = at; i < qMin(at + 4096, data.size()); ++i)
                    data[i] = char(data.at(i) ^ 0x5a);
            }
            changed.append(path);
        }
        if (!TestFiles::write(root + QLatin1Char('/') + path, data))
            return {};
    }
    return changed;
}

// The window log zstd needs to reach back over the earlier version.
int windowLogFor(qint64 bytes)
{
    int log = 10;
    while (log < 31 && (qint64(1) << log) < bytes)
        ++log;
    return log;
}

int benchDelta(const QString& release, const QString& key, const QStringList& threads, QTemporaryDir& dir)
{
    const QString publishTool = QStringLiteral(CORVANE_PUBLISH);
    const QString zstd = QStandardPaths::findExecutable(QStringLiteral("zstd"));
    if (zstd.isEmpty()) {
        std::fprintf(stderr, "zstd is not installed\n");
        return 1;
    }
    const QString release2 = dir.filePath(QStringLiteral("release-2"));
    const QStringList changed = makeChangedRelease(release, release2);
    const QString mirror = dir.filePath(QStringLiteral("mirror"));
    if (changed.isEmpty()
        || timed(publishTool,
               {release, mirror, QStringLiteral("--version"), QStringLiteral("1"), QStringLiteral("--key"),
                   key})
            < 0) {
        std::fprintf(stderr, "Cannot make or publish the first version\n");
        return 1;
    }
    // The cache holds both trees after the first pass: each side twice,
    // alternately, and the better time kept.
    double ours = 1e9;
    double stock = 1e9;
    qint64 stockBytes = 0;
    qint64 ourPatches = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const QString out = dir.filePath(QStringLiteral("mirror-2-%1").arg(pass));
        QDir().mkpath(out);
        QFile::link(mirror + QStringLiteral("/1"), out + QStringLiteral("/1"));
        const double seconds = timed(publishTool,
            QStringList {release2, out, QStringLiteral("--version"), QStringLiteral("2"),
                QStringLiteral("--key"), key, QStringLiteral("--delta-from"), out + QStringLiteral("/1")}
                + threads);
        ourPatches = treeBytes(out + QStringLiteral("/2/patches"));
        QDir(out).removeRecursively();
        QElapsedTimer clock;
        clock.start();
        stockBytes = 0;
        const QString patch = dir.filePath(QStringLiteral("patch.zst"));
        for (const QString& path : changed) {
            const QString base = release + QLatin1Char('/') + path;
            const QString target = release2 + QLatin1Char('/') + path;
            const int log = windowLogFor(QFileInfo(base).size() + QFileInfo(target).size());
            if (timed(zstd,
                    {QStringLiteral("-q"), QStringLiteral("-f"), QStringLiteral("-3"),
                        QStringLiteral("--long=%1").arg(log), QStringLiteral("--patch-from=") + base, target,
                        QStringLiteral("-o"), patch})
                < 0) {
                std::fprintf(stderr, "zstd failed on %s\n", qPrintable(path));
                return 1;
            }
            stockBytes += QFileInfo(patch).size();
        }
        const double stockSeconds = double(clock.nsecsElapsed()) / 1e9;
        if (seconds < 0) {
            std::fprintf(stderr, "Publishing with --delta-from failed\n");
            return 1;
        }
        ours = qMin(ours, seconds);
        stock = qMin(stock, stockSeconds);
    }
    std::printf("%lld files changed\n", static_cast<long long>(changed.size()));
    std::printf("zstd --patch-from, one after the other: %7.2f s  %8.2f MB of patches\n", stock,
        double(stockBytes) / megabyte);
    std::printf("corvane-publish --delta-from:           %7.2f s  %8.2f MB of patches\n", ours,
        double(ourPatches) / megabyte);
    std::printf("4  publishing with one --delta-from: %.2f x zstd making the same patches (goal: 1.5 x)\n",
        ours / stock);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool levels = args.contains(QStringLiteral("--levels"));
    const qsizetype threadsAt = args.indexOf(QStringLiteral("--threads"));
    const qsizetype scaleAt = args.indexOf(QStringLiteral("--scale"));
    const int scale = scaleAt > 0 && scaleAt + 1 < args.size() ? args.at(scaleAt + 1).toInt() : 100;
    const QString key = TestSigning::devPrivateKeyPath();
    if (key.isEmpty()) {
        std::fprintf(stderr, "No development key (built with a publisher key): nothing to sign with\n");
        return 1;
    }

    QTemporaryDir dir;
    const QString release = dir.filePath(QStringLiteral("release"));
    Tree tree;
    if (!makeRelease(release, qMax(1, scale), tree)) {
        std::fprintf(stderr, "Cannot write the release into %s\n", qPrintable(dir.path()));
        return 1;
    }
    std::printf("Release: %d files, %.1f MB\n", tree.files, double(tree.bytes) / megabyte);

    const QString publishTool = QStringLiteral(CORVANE_PUBLISH);
    int run = 0;
    const auto publish = [&](const QStringList& extra, qint64& bytes) {
        const QString out = dir.filePath(QStringLiteral("mirror%1").arg(++run));
        const double seconds = timed(publishTool,
            QStringList {release, out, QStringLiteral("--version"), QStringLiteral("1"),
                QStringLiteral("--key"), key, QStringLiteral("--gzip")}
                + extra);
        bytes = treeBytes(out);
        QDir(out).removeRecursively();
        return seconds;
    };
    QStringList threads;
    if (threadsAt > 0 && threadsAt + 1 < args.size())
        threads << QStringLiteral("--threads") << args.at(threadsAt + 1);

    if (args.contains(QStringLiteral("--delta")))
        return benchDelta(release, key, threads, dir);
    if (levels) {
        std::printf("%-6s %10s %10s\n", "level", "seconds", "MB");
        for (int level = 1; level <= 9; ++level) {
            qint64 bytes = 0;
            const double seconds =
                publish(threads + QStringList {QStringLiteral("--level"), QString::number(level)}, bytes);
            std::printf("%-6d %10.2f %10.2f\n", level, seconds, double(bytes) / megabyte);
        }
        return 0;
    }

    // The cache holds the tree for both after the first pass: run each twice
    // alternately and keep the better time.
    double tar = 1e9;
    double ours = 1e9;
    qint64 tarBytes = 0;
    qint64 ourBytes = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const QString archive = dir.filePath(QStringLiteral("release.tar.gz"));
        const double tarSeconds = timed(QStringLiteral("tar"),
            {QStringLiteral("czf"), archive, QStringLiteral("-C"), release, QStringLiteral(".")});
        tarBytes = QFileInfo(archive).size();
        QFile::remove(archive);
        const double ourSeconds = publish(threads, ourBytes);
        if (tarSeconds < 0 || ourSeconds < 0) {
            std::fprintf(stderr, "A run failed\n");
            return 1;
        }
        tar = qMin(tar, tarSeconds);
        ours = qMin(ours, ourSeconds);
    }
    std::printf("tar czf:                %7.2f s  %8.1f MB\n", tar, double(tarBytes) / megabyte);
    std::printf("corvane-publish --gzip: %7.2f s  %8.1f MB\n", ours, double(ourBytes) / megabyte);
    std::printf("ratio publish/tar: %.2fx\n", ours / tar);
    return 0;
}
