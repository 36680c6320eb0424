// Digests and sizes as the release's index files write them.
#include "releasefields.h"

#include <QString>

namespace ReleaseFields {

const QString& separator()
{
    static const QString text = QStringLiteral("::");
    return text;
}

// The index files are signed, but a publishing mistake must not turn into
// blamed mirrors: a digest that is not an MD5 can never match a download, so
// every mirror would be dropped for delivering the file the index describes.
bool isMd5Text(const QString& text)
{
    if (text.size() != 32)
        return false;
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
                || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    }
    return true;
}

// A size that is not a plain decimal number would read as 0, and one beyond
// the signed range would lift the download's size limit; the download stops
// a transfer that exceeds the size, so both would fail every mirror or let
// one fill the disk.
std::optional<quint64> parseSize(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return quint64(value);
}

} // namespace ReleaseFields
