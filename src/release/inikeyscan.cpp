// Reads an INI file's lines, sections and keys the way the settings reader
// does: the same line ends, comments, quotes and escapes, so that both agree
// on which keys are one.
#include "inikeyscan.h"

#include <QByteArrayView>
#include <QSet>
#include <QString>

namespace IniKeyScan {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isLineEnd(char c)
{
    return c == '\n' || c == '\r';
}

struct Line {
    QByteArrayView text;
    qsizetype equals = -1; // position of the first '=' outside quotes in text, or -1
};

// The next line from pos on, or false at the end. A line runs to a line end
// outside quotes or to a ';' that starts a comment; a backslash escapes the
// character after it, a line end included; lines that start with ';' are
// comments and skipped.
bool nextLine(QByteArrayView data, qsizetype& pos, Line& line)
{
    const qsizetype size = data.size();
    qsizetype start = pos;
    while (start < size && isBlank(data.at(start)))
        ++start;
    bool inQuotes = false;
    qsizetype equals = -1;
    qsizetype i = start;
    while (i < size) {
        const char c = data.at(i++);
        if (c == '=') {
            if (!inQuotes && equals < 0)
                equals = i - 1;
        } else if (isLineEnd(c)) {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i < size) {
                const char escaped = data.at(i++);
                // "\r\n" and "\n\r" are one line end.
                if (i < size && isLineEnd(escaped) && isLineEnd(data.at(i)) && data.at(i) != escaped)
                    ++i;
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == ';') {
            if (i == start + 1) {
                while (i < size && !isLineEnd(data.at(i)))
                    ++i;
                while (i < size && isBlank(data.at(i)))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    pos = i;
    line.text = data.sliced(start, i - start);
    line.equals = equals < 0 ? -1 : equals - start;
    return !line.text.isEmpty();
}

// A key or section name as written: UTF-8, "\" for "/", "%XX" and "%UXXXX"
// for any character; a "%" that starts no escape stands for itself.
QString unescaped(QByteArrayView raw)
{
    const QString text = QString::fromUtf8(raw);
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\')) {
            result += QLatin1Char('/');
            ++i;
            continue;
        }
        if (c != QLatin1Char('%') || i == text.size() - 1) {
            result += c;
            ++i;
            continue;
        }
        const bool wide = text.at(i + 1) == QLatin1Char('U');
        const qsizetype digitsAt = wide ? i + 2 : i + 1;
        const qsizetype digits = wide ? 4 : 2;
        bool ok = false;
        const ushort code = digitsAt + digits <= text.size()
            ? QStringView(text).sliced(digitsAt, digits).toUShort(&ok, 16)
            : 0;
        if (!ok) {
            result += c;
            ++i;
            continue;
        }
        result += QChar(code);
        i = digitsAt + digits;
    }
    return result;
}

// The prefix that a section line gives the keys after it.
QString sectionPrefix(QByteArrayView line)
{
    qsizetype end = line.indexOf(']');
    if (end < 0)
        end = line.size();
    const QByteArrayView name = line.sliced(1, end - 1).trimmed();
    if (name.compare("general", Qt::CaseInsensitive) == 0)
        return {};
    // "[%General]" is how the writer spells a section that is really named so.
    if (name.compare("%general", Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(name.sliced(1)) + QLatin1Char('/');
    return unescaped(name) + QLatin1Char('/');
}

template<typename Visit>
void forEachKey(QByteArrayView data, Visit visit)
{
    if (data.startsWith("\xef\xbb\xbf"))
        data = data.sliced(3);
    QString prefix;
    qsizetype pos = 0;
    Line line;
    while (nextLine(data, pos, line)) {
        if (line.text.startsWith('['))
            prefix = sectionPrefix(line.text);
        else if (line.equals >= 0)
            visit(prefix + unescaped(line.text.first(line.equals).trimmed()));
    }
}

} // namespace

QStringList keys(QByteArrayView data)
{
    QStringList result;
    forEachKey(data, [&result](const QString& key) { result.append(key); });
    return result;
}

QStringList repeatedKeys(QByteArrayView data)
{
    QSet<QString> seen;
    QSet<QString> repeated;
    QStringList result;
    forEachKey(data, [&](const QString& key) {
        // Keys outside the sections are not read.
        if (!key.contains(QLatin1Char('/')))
            return;
        if (!seen.contains(key)) {
            seen.insert(key);
        } else if (!repeated.contains(key)) {
            repeated.insert(key);
            result.append(key);
        }
    });
    return result;
}

} // namespace IniKeyScan
