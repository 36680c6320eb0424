// Making and applying binary patches with zstd's "patch from" mode.
#include "deltapatch.h"

#define ZSTD_STATIC_LINKING_ONLY // the stable buffers; plain parameters of the shared library
#include <zstd.h>

#include <QCryptographicHash>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "base/mappedfile.h"

namespace DeltaPatch {

namespace {

// The skippable frame that names the stretch of the earlier version the next
// frame was made against: magic, payload length, then the tag and three
// little-endian 64-bit numbers (offset and length of the stretch, bytes the
// frame gives).
constexpr quint32 segmentMagic = ZSTD_MAGIC_SKIPPABLE_START + 0xC;
constexpr char segmentTag[4] = {'C', 'V', 'S', 'G'};
constexpr quint32 segmentPayload = 4 + 3 * 8;
constexpr quint32 frameHeaderBytes = 8;

// Compressed input handed to the decoder at a time: between two calls the
// new output is handed to the digest while it is still in the cache, and a
// cancel is seen.
constexpr size_t applyInputChunk = 256 * 1024;

// Output digested between two looks at whether the work was abandoned.
constexpr quint64 digestSlice = 4 * 1024 * 1024;

struct CompressorFree {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
struct DecompressorFree {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

QString zstdError(size_t code)
{
    return QString::fromLatin1(ZSTD_getErrorName(code));
}

// The smallest window log that covers bytes, within the library's bounds and limit.
int windowLogFor(quint64 bytes, int limit)
{
    int log = ZSTD_WINDOWLOG_MIN;
    while (log < limit && (quint64(1) << log) < bytes)
        ++log;
    return log;
}

// The patch file being written, digested on the way.
class PatchOutput {
public:
    explicit PatchOutput(const QString& path)
        : file(path)
        , digest(QCryptographicHash::Md5)
    {
    }

    bool open() { return file.open(QIODevice::WriteOnly | QIODevice::Truncate); }
    bool write(const char* data, qint64 size)
    {
        digest.addData(QByteArrayView(data, size));
        written += quint64(size);
        return file.write(data, size) == size;
    }
    bool finish()
    {
        file.close();
        return file.error() == QFileDevice::NoError;
    }
    void discard()
    {
        file.close();
        file.remove();
    }
    QString errorString() const
    {
        return QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString());
    }

    QFile file;
    QCryptographicHash digest;
    quint64 written = 0;
};

bool setParameter(ZSTD_CCtx* context, ZSTD_cParameter parameter, int value, QString* error)
{
    const size_t result = ZSTD_CCtx_setParameter(context, parameter, value);
    if (ZSTD_isError(result)) {
        *error = QStringLiteral("Cannot set up the compressor: %1").arg(zstdError(result));
        return false;
    }
    return true;
}

// One frame: source compressed against prefix as its history.
bool compressFrame(ZSTD_CCtx* context, const char* prefix, size_t prefixSize, const char* source,
    size_t sourceSize, int windowLog, int level, PatchOutput& output, QString* error)
{
    ZSTD_CCtx_reset(context, ZSTD_reset_session_and_parameters);
    if (!setParameter(context, ZSTD_c_compressionLevel, level, error)
        || !setParameter(context, ZSTD_c_windowLog, windowLog, error)
        || !setParameter(context, ZSTD_c_enableLongDistanceMatching, 1, error)
        // The whole source is mapped: the compressor needs no copy of it.
        || !setParameter(context, ZSTD_c_stableInBuffer, 1, error))
        return false;
    size_t result = ZSTD_CCtx_setPledgedSrcSize(context, sourceSize);
    if (!ZSTD_isError(result))
        result = ZSTD_CCtx_refPrefix(context, prefix, prefixSize);
    if (ZSTD_isError(result)) {
        *error = QStringLiteral("Cannot set up the compressor: %1").arg(zstdError(result));
        return false;
    }
    const size_t blockSize = ZSTD_CStreamOutSize();
    const std::unique_ptr<char[]> block(new char[blockSize]);
    ZSTD_inBuffer in {source, sourceSize, 0};
    for (;;) {
        ZSTD_outBuffer out {block.get(), blockSize, 0};
        const size_t left = ZSTD_compressStream2(context, &out, &in, ZSTD_e_end);
        if (ZSTD_isError(left)) {
            *error = QStringLiteral("Cannot compress: %1").arg(zstdError(left));
            return false;
        }
        if (!output.write(block.get(), qint64(out.pos))) {
            *error = output.errorString();
            return false;
        }
        if (left == 0)
            return true;
    }
}

bool writeSegmentHeader(
    quint64 referenceOffset, quint64 referenceLength, quint64 outputLength, PatchOutput& output)
{
    char header[frameHeaderBytes + segmentPayload];
    qToLittleEndian(segmentMagic, header);
    qToLittleEndian(segmentPayload, header + 4);
    std::copy(std::begin(segmentTag), std::end(segmentTag), header + frameHeaderBytes);
    qToLittleEndian(referenceOffset, header + frameHeaderBytes + 4);
    qToLittleEndian(referenceLength, header + frameHeaderBytes + 12);
    qToLittleEndian(outputLength, header + frameHeaderBytes + 20);
    return output.write(header, sizeof header);
}

bool makeFrames(const MappedFile& base, const MappedFile& target, const MakeOptions& options,
    PatchOutput& output, QString* error)
{
    const std::unique_ptr<ZSTD_CCtx, CompressorFree> context(ZSTD_createCCtx());
    if (!context) {
        *error = QStringLiteral("Cannot set up the compressor: out of memory");
        return false;
    }
    const int limit = std::clamp(options.windowLogLimit, ZSTD_WINDOWLOG_MIN + 3, maxWindowLog);
    const quint64 window = quint64(1) << limit;
    // The frame must reach back from the end of the new version over the
    // whole earlier one: one frame as long as the earlier version fills at
    // most half of the window.
    if (base.size() <= window / 2) {
        return compressFrame(context.get(), base.data(), base.size(), target.data(), target.size(),
            windowLogFor(base.size() + target.size(), limit), options.level, output, error);
    }
    // Each segment of the new version against the stretch of the earlier one
    // around the same place: a segment of a quarter window and a margin of
    // an eighth on either side need at most three quarters of the window.
    const quint64 segment = window / 4;
    const quint64 margin = window / 8;
    for (quint64 start = 0; start < target.size() || start == 0; start += segment) {
        const quint64 end = std::min(start + segment, target.size());
        const quint64 from = std::min(start > margin ? start - margin : 0, base.size());
        const quint64 to = std::min(end + margin, base.size());
        if (!writeSegmentHeader(from, to - from, end - start, output)) {
            *error = output.errorString();
            return false;
        }
        if (!compressFrame(context.get(), base.data() + from, to - from, target.data() + start, end - start,
                windowLogFor(to - from + end - start, limit), options.level, output, error))
            return false;
        if (end == target.size())
            break;
    }
    return true;
}

// Where the next frame's output comes from: a stretch of the earlier version
// and the number of bytes, or the whole earlier version for what remains.
struct Segment {
    quint64 referenceOffset = 0;
    quint64 referenceLength = 0;
    quint64 outputLength = 0;
};

// Reads the skippable frame at data (its whole length is there); false for one
// of ours that does not fit the files.
bool readSegmentHeader(const char* payload, quint32 length, const MappedFile& base, quint64 outputLeft,
    Segment& segment, bool& isSegment)
{
    isSegment = length == segmentPayload && std::equal(std::begin(segmentTag), std::end(segmentTag), payload);
    if (!isSegment)
        return true; // someone else's; skipped as the format says
    segment.referenceOffset = qFromLittleEndian<quint64>(payload + 4);
    segment.referenceLength = qFromLittleEndian<quint64>(payload + 12);
    segment.outputLength = qFromLittleEndian<quint64>(payload + 20);
    return segment.referenceOffset <= base.size()
        && segment.referenceLength <= base.size() - segment.referenceOffset
        && segment.outputLength <= outputLeft;
}

// The MD5 of output that grows at its end, taken on a thread of its own:
// hashing costs about as much as decoding, so the two run side by side.
class TrailingDigest {
public:
    explicit TrailingDigest(const char* data)
        : data(data)
        , digest(QCryptographicHash::Md5)
        , worker([this] { work(); })
    {
    }
    ~TrailingDigest() { abandon(); }
    TrailingDigest(const TrailingDigest&) = delete;
    TrailingDigest& operator=(const TrailingDigest&) = delete;

    /// The output up to end is written and may be digested.
    void advance(quint64 end)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ready = end;
        }
        wake.notify_one();
    }

    /// The digest of everything advanced over, once it is all digested.
    QByteArray finish()
    {
        stop(false);
        return digest.result().toHex();
    }

    /// Stops without digesting the rest; the output is not read any more.
    void abandon() { stop(true); }

private:
    void stop(bool abandon)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
            abandoned = abandon;
        }
        wake.notify_one();
        if (worker.joinable())
            worker.join();
    }

    void work()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return ready > done || stopping; });
            if (abandoned || (stopping && ready == done))
                return;
            const quint64 from = done;
            const quint64 to = std::min(ready, done + digestSlice);
            lock.unlock();
            digest.addData(QByteArrayView(data + from, qsizetype(to - from)));
            lock.lock();
            done = to;
        }
    }

    const char* const data;
    QCryptographicHash digest; // touched by the worker alone until it is joined
    std::mutex mutex;
    std::condition_variable wake;
    quint64 ready = 0; // bytes written, guarded by mutex
    quint64 done = 0; // bytes digested, guarded by mutex
    bool stopping = false;
    bool abandoned = false;
    std::thread worker; // last: starts once everything above is set up
};

class Applier {
public:
    Applier(const MappedFile& base, const MappedFile& patch, MappedFile& output, const KeepGoing& keepGoing)
        : base(base)
        , patch(patch)
        , output(output)
        , keepGoing(keepGoing)
        , digest(output.data())
    {
    }

    /// Once it returns, the output is not read any more and may be unmapped.
    bool run(QString* error)
    {
        const bool ok = decodeAll(error);
        if (ok)
            md5 = digest.finish();
        else
            digest.abandon();
        return ok;
    }
    QByteArray md5Hex() const { return md5; }

private:
    bool decodeAll(QString* error);

    // Decodes the frame at read into the next room bytes of the output; a
    // segment must give exactly room bytes.
    bool decodeFrame(const char* prefix, quint64 prefixSize, quint64 room, bool exact, QString* error);

    const MappedFile& base;
    const MappedFile& patch;
    MappedFile& output;
    const KeepGoing& keepGoing;
    TrailingDigest digest;
    std::unique_ptr<ZSTD_DCtx, DecompressorFree> context;
    quint64 read = 0; // bytes of the patch consumed
    quint64 written = 0; // bytes of the output done
    QByteArray md5;
};

bool Applier::decodeAll(QString* error)
{
    context.reset(ZSTD_createDCtx());
    if (!context) {
        *error = QStringLiteral("Cannot set up the decompressor: out of memory");
        return false;
    }
    // The frames say how far back they reach; every window the format allows
    // is accepted, since the output is the window and costs no memory of
    // ours. The output is one buffer that stays put, the whole file.
    size_t result = ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, maxWindowLog);
    if (!ZSTD_isError(result))
        result = ZSTD_DCtx_setParameter(context.get(), ZSTD_d_stableOutBuffer, 1);
    if (ZSTD_isError(result)) {
        *error = QStringLiteral("Cannot set up the decompressor: %1").arg(zstdError(result));
        return false;
    }
    bool segmentAnnounced = false;
    Segment segment;
    while (read < patch.size()) {
        const char* at = patch.data() + read;
        const quint64 left = patch.size() - read;
        const quint32 magic = left >= 4 ? qFromLittleEndian<quint32>(at) : 0;
        if ((magic & ZSTD_MAGIC_SKIPPABLE_MASK) == ZSTD_MAGIC_SKIPPABLE_START) {
            const quint32 length = left >= frameHeaderBytes ? qFromLittleEndian<quint32>(at + 4) : 0;
            bool isSegment = false;
            if (left < frameHeaderBytes || length > left - frameHeaderBytes
                || !readSegmentHeader(
                    at + frameHeaderBytes, length, base, output.size() - written, segment, isSegment)) {
                *error = QStringLiteral("The patch is damaged: a bad segment header at byte %1").arg(read);
                return false;
            }
            segmentAnnounced = segmentAnnounced || isSegment;
            read += frameHeaderBytes + length;
            continue;
        }
        const bool ok = segmentAnnounced
            ? decodeFrame(base.data() + segment.referenceOffset, segment.referenceLength,
                segment.outputLength, true, error)
            : decodeFrame(base.data(), base.size(), output.size() - written, false, error);
        if (!ok)
            return false;
        segmentAnnounced = false;
    }
    if (written != output.size()) {
        *error = QStringLiteral("The patch gives %1 bytes, not %2").arg(written).arg(output.size());
        return false;
    }
    return true;
}

bool Applier::decodeFrame(const char* prefix, quint64 prefixSize, quint64 room, bool exact, QString* error)
{
    ZSTD_DCtx_reset(context.get(), ZSTD_reset_session_only);
    const size_t prefixed = ZSTD_DCtx_refPrefix(context.get(), prefix, prefixSize);
    if (ZSTD_isError(prefixed)) {
        *error = QStringLiteral("Cannot set up the decompressor: %1").arg(zstdError(prefixed));
        return false;
    }
    ZSTD_outBuffer out {output.writableData() + written, room, 0};
    const quint64 frameStart = read;
    for (;;) {
        const quint64 left = patch.size() - read;
        ZSTD_inBuffer in {patch.data() + read, size_t(std::min<quint64>(left, applyInputChunk)), 0};
        const size_t before = out.pos;
        const size_t result = ZSTD_decompressStream(context.get(), &out, &in);
        if (ZSTD_isError(result)) {
            *error = QStringLiteral("The patch does not apply at byte %1: %2")
                         .arg(frameStart)
                         .arg(zstdError(result));
            return false;
        }
        read += in.pos;
        digest.advance(written + out.pos);
        if (keepGoing && !keepGoing(written + out.pos)) {
            *error = QStringLiteral("Stopped");
            return false;
        }
        if (result == 0)
            break;
        if (read == patch.size()) {
            *error = QStringLiteral("The patch is cut short");
            return false;
        }
        // A frame that would give more than there is room for stops here.
        if (in.pos == 0 && out.pos == before) {
            *error = QStringLiteral("The patch gives more than %1 bytes").arg(output.size());
            return false;
        }
    }
    written += out.pos;
    if (exact && out.pos != room) {
        *error = QStringLiteral("A segment of the patch gives %1 bytes, not %2").arg(out.pos).arg(room);
        return false;
    }
    return true;
}

} // namespace

bool make(const QString& basePath, const QString& targetPath, const QString& patchPath,
    const MakeOptions& options, QByteArray* md5Hex, quint64* patchSize, QString* error)
{
    MappedFile base;
    MappedFile target;
    if (!base.openForReading(basePath)) {
        *error = base.errorString();
        return false;
    }
    if (!target.openForReading(targetPath)) {
        *error = target.errorString();
        return false;
    }
    PatchOutput output(patchPath);
    if (!output.open()) {
        *error = output.errorString();
        return false;
    }
    if (!makeFrames(base, target, options, output, error) || !output.finish()) {
        if (error->isEmpty())
            *error = output.errorString();
        output.discard();
        return false;
    }
    *md5Hex = output.digest.result().toHex();
    *patchSize = output.written;
    return true;
}

bool apply(const QString& basePath, const QString& patchPath, const QString& outputPath, quint64 outputSize,
    QByteArray* md5Hex, QString* error, const KeepGoing& keepGoing)
{
    MappedFile base;
    MappedFile patch;
    MappedFile output;
    if (!base.openForReading(basePath)) {
        *error = base.errorString();
        return false;
    }
    if (!patch.openForReading(patchPath)) {
        *error = patch.errorString();
        return false;
    }
    if (!output.createForWriting(outputPath, outputSize)) {
        *error = output.errorString();
        return false;
    }
    Applier applier(base, patch, output, keepGoing);
    const bool ok = applier.run(error);
    output.close();
    if (!ok) {
        QFile::remove(outputPath);
        return false;
    }
    *md5Hex = applier.md5Hex();
    return true;
}

} // namespace DeltaPatch
