// Continuing half-done downloads.
#include "partialdownload.h"

#include <QFile>
#include <QNetworkReply>
#include <QSaveFile>

namespace PartialDownload {

namespace {

// A validator is one header value; anything longer is not one.
constexpr qint64 maxValidatorBytes = 512;

bool parseNumber(const QByteArray& text, qint64& value)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok;
}

} // namespace

QString validatorPath(const QString& localPath)
{
    return localPath + QStringLiteral(".corvane-resume");
}

QByteArray loadValidator(const QString& localPath)
{
    QFile file(validatorPath(localPath));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray value = file.read(maxValidatorBytes + 1);
    if (value.size() > maxValidatorBytes || value.contains('\n') || value.contains('\r'))
        return {};
    return value;
}

bool saveValidator(const QString& localPath, const QNetworkReply& reply)
{
    // If-Range takes a strong entity tag or a date; a weak tag cannot be used.
    QByteArray value = reply.rawHeader("ETag").trimmed();
    if (value.isEmpty() || value.startsWith("W/"))
        value = reply.rawHeader("Last-Modified").trimmed();
    forget(localPath);
    if (value.isEmpty() || value.size() > maxValidatorBytes || value.contains('\n') || value.contains('\r'))
        return true;
    QSaveFile file(validatorPath(localPath));
    return file.open(QIODevice::WriteOnly) && file.write(value) == value.size() && file.commit();
}

void forget(const QString& localPath)
{
    QFile::remove(validatorPath(localPath));
}

bool continuesAt(const QByteArray& contentRange, qint64 offset, qint64 totalSize)
{
    const QByteArray text = contentRange.trimmed();
    if (!text.startsWith("bytes "))
        return false;
    const QByteArray range = text.mid(6).trimmed();
    const int dash = range.indexOf('-');
    const int slash = range.indexOf('/');
    if (dash <= 0 || slash <= dash)
        return false;
    qint64 first = 0;
    qint64 last = 0;
    qint64 total = 0;
    return parseNumber(range.left(dash), first) && parseNumber(range.mid(dash + 1, slash - dash - 1), last)
        && parseNumber(range.mid(slash + 1), total) && first == offset && total == totalSize
        && last == totalSize - 1;
}

} // namespace PartialDownload
