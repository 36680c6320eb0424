// Applying a downloaded patch to the installed file.
#include "patchapplytaskspecification.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include <QFile>

#include <zlib.h>

#include "base/mappedfile.h"
#include "net/partialdownload.h"
#include "release/deltapatch.h"

namespace {

// Handed to zlib at a time while the result is packed.
constexpr size_t packChunk = 1024 * 1024;

} // namespace

PatchApplyTaskSpecification::PatchApplyTaskSpecification(const QString& basePath, const QString& patchPath,
    const QString& localPath, const FilePatchSpecification& patch, QObject* parent,
    double parentProgressRange)
    : ASyncTaskSpecification(parent, parentProgressRange)
    , basePath(basePath)
    , patchPath(patchPath)
    , localPath(localPath)
    , patch(patch)
{
}

ASyncFunc* PatchApplyTaskSpecification::createFunction()
{
    failure = std::make_shared<QString>();
    return new PatchApplyFunc(basePath, patchPath, localPath, patch, failure);
}

void PatchApplyTaskSpecification::runDone(bool ok)
{
    // A result after reset() belongs to an abandoned run.
    if (state() != Running)
        return;
    emit applied(ok, failure ? *failure : QString());
    finish();
}

PatchApplyFunc::PatchApplyFunc(const QString& basePath, const QString& patchPath, const QString& localPath,
    const FilePatchSpecification& patch, std::shared_ptr<QString> failure)
    : basePath(basePath)
    , patchPath(patchPath)
    , localPath(localPath)
    , patch(patch)
    , failure(std::move(failure))
{
}

bool PatchApplyFunc::fail(const QString& why)
{
    *failure = why;
    return false;
}

bool PatchApplyFunc::run()
{
    // What is at localPath now is a part of an earlier whole download at
    // best; the whole file, fetched again after a failure here, must not
    // continue it from what the patch writes.
    PartialDownload::forget(localPath);
    QFile::remove(localPath);
    const QString result = FilePatchSpecification::resultFileOf(localPath);
    QByteArray md5;
    QString error;
    const double size = double(qMax<quint64>(patch.resultSize, 1));
    const bool applied = DeltaPatch::apply(
        basePath, patchPath, result, patch.resultSize, &md5, &error, [this, size](quint64 done) {
            emit progress(double(done) / size);
            return !abandoned();
        });
    QFile::remove(patchPath);
    if (!applied)
        return fail(error);
    // The signed product ini has the last word on what is installed.
    if (QString::fromLatin1(md5).compare(patch.resultMd5, Qt::CaseInsensitive) != 0) {
        QFile::remove(result);
        return fail(QStringLiteral("it gives MD5 %1, the product ini lists %2")
                        .arg(QString::fromLatin1(md5), patch.resultMd5.toLower()));
    }
    if (patch.packed) {
        const bool stored = storePacked(result, localPath);
        QFile::remove(result);
        return stored;
    }
    if (std::rename(QFile::encodeName(result).constData(), QFile::encodeName(localPath).constData()) != 0) {
        QFile::remove(result);
        return fail(
            QStringLiteral("cannot rename %1: %2").arg(result, QString::fromLocal8Bit(std::strerror(errno))));
    }
    return true;
}

bool PatchApplyFunc::storePacked(const QString& source, const QString& target)
{
    MappedFile content;
    if (!content.openForReading(source))
        return fail(content.errorString());
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("cannot write %1: %2").arg(target, out.errorString()));
    z_stream stream {};
    // 15 + 16 window bits: the gzip wrapper the installation unpacks; level 0
    // stores the bytes, which costs no time, and the copy is not kept.
    if (deflateInit2(&stream, 0, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return fail(QStringLiteral("zlib cannot start packing"));
    const std::unique_ptr<char[]> buffer(new char[packChunk + 1024]);
    quint64 offset = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END && !abandoned()) {
        const quint64 take = qMin<quint64>(packChunk, content.size() - offset);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data() + offset));
        stream.avail_in = uInt(take);
        offset += take;
        const int flush = offset == content.size() ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer.get());
            stream.avail_out = uInt(packChunk + 1024);
            rc = deflate(&stream, flush);
            const qint64 produced = qint64(packChunk + 1024 - stream.avail_out);
            if (rc == Z_STREAM_ERROR || out.write(buffer.get(), produced) != produced) {
                deflateEnd(&stream);
                out.remove();
                return fail(QStringLiteral("cannot write %1: %2").arg(target, out.errorString()));
            }
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    out.close();
    if (rc != Z_STREAM_END || out.error() != QFileDevice::NoError) {
        out.remove();
        return fail(QStringLiteral("cannot write %1: %2").arg(target, out.errorString()));
    }
    return true;
}
