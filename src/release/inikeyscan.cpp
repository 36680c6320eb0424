// Reads an INI file's lines, sections and keys the way the settings reader
// does: the same line ends, comments, quotes and escapes, so that both agree
// on which keys are one.
#include "inikeyscan.h"

#include <algorithm>
#include <functional>
#include <utility>

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

// A section line that the scan and the reader may read differently: one
// without its "]" at the end.
bool isPlainSectionLine(QByteArrayView line)
{
    const QByteArrayView text = line.trimmed();
    return text.endsWith(']') && text.indexOf(']') == text.size() - 1;
}

// Every key line in file order: visit(key, rawValue, plainSection), the key
// as the reader names it, its value as written, and whether the line of its
// section is plain.
template<typename Visit>
void forEachKey(QByteArrayView data, Visit visit)
{
    if (data.startsWith("\xef\xbb\xbf"))
        data = data.sliced(3);
    QString prefix;
    bool plainSection = true;
    qsizetype pos = 0;
    Line line;
    while (nextLine(data, pos, line)) {
        if (line.text.startsWith('[')) {
            prefix = sectionPrefix(line.text);
            plainSection = isPlainSectionLine(line.text);
        } else if (line.equals >= 0) {
            visit(prefix + unescaped(line.text.first(line.equals).trimmed()),
                line.text.sliced(line.equals + 1), plainSection);
        }
    }
}

bool isValueBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The reader skips blanks before a value and drops those after it.
QByteArrayView trimmedValue(QByteArrayView raw)
{
    qsizetype from = 0;
    qsizetype to = raw.size();
    while (from < to && isValueBlank(raw.at(from)))
        ++from;
    while (to > from && isValueBlank(raw.at(to - 1)))
        --to;
    return raw.sliced(from, to - from);
}

// A value the reader takes as it stands: no quotes, escapes or list, and not
// one of its "@" forms.
bool isPlainValue(QByteArrayView raw)
{
    const QByteArrayView value = trimmedValue(raw);
    if (value.startsWith('@'))
        return false;
    return std::none_of(value.begin(), value.end(), [](char c) { return c == '\\' || c == '"' || c == ','; });
}

// The reader may tidy a key with an empty component before it looks it up.
bool isPlainKey(const QString& key)
{
    return !key.startsWith(QLatin1Char('/')) && !key.endsWith(QLatin1Char('/'))
        && !key.contains(QStringLiteral("//"));
}

} // namespace

QStringList keys(QByteArrayView data)
{
    QStringList result;
    forEachKey(data, [&result](const QString& key, QByteArrayView, bool) { result.append(key); });
    return result;
}

QStringList repeatedKeys(QByteArrayView data)
{
    QSet<QString> seen;
    QSet<QString> repeated;
    QStringList result;
    forEachKey(data, [&](const QString& key, QByteArrayView, bool) {
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

std::optional<std::vector<SectionEntry>> plainSectionEntries(QByteArrayView data, QStringList* repeated)
{
    // The reader decodes bytes that are not UTF-8 piece by piece, which text
    // decoded in one go need not match.
    if (!data.isValidUtf8())
        return std::nullopt;
    std::vector<SectionEntry> entries;
    bool plain = true;
    // The keys of one section share one text for its name.
    QString section;
    forEachKey(data, [&](const QString& key, QByteArrayView rawValue, bool plainSection) {
        if (!plain)
            return;
        if (!plainSection || !isPlainKey(key) || !isPlainValue(rawValue)) {
            plain = false;
            return;
        }
        // Keys outside the sections are not read.
        const qsizetype slash = key.indexOf(QLatin1Char('/'));
        if (slash < 0)
            return;
        if (QStringView(key).first(slash) != section)
            section = key.first(slash);
        entries.push_back({section, key.sliced(slash + 1), rawValue});
    });
    if (!plain)
        return std::nullopt;

    // Stable, so that equal keys stay in file order and the last is the one
    // the reader keeps; the raw values point into data in file order too.
    std::stable_sort(entries.begin(), entries.end(), [](const SectionEntry& a, const SectionEntry& b) {
        const int bySection = a.section.compare(b.section);
        return bySection != 0 ? bySection < 0 : a.key < b.key;
    });
    std::vector<std::pair<const char*, QString>> again;
    size_t kept = 0;
    for (size_t i = 0; i < entries.size();) {
        size_t end = i + 1;
        while (end < entries.size() && entries[end].section == entries[i].section
            && entries[end].key == entries[i].key)
            ++end;
        if (end - i > 1 && repeated)
            again.emplace_back(
                entries[i + 1].rawValue.data(), entries[i].section + QLatin1Char('/') + entries[i].key);
        if (kept != end - 1)
            entries[kept] = std::move(entries[end - 1]);
        ++kept;
        i = end;
    }
    entries.erase(entries.begin() + qsizetype(kept), entries.end());
    if (repeated) {
        std::sort(again.begin(), again.end(),
            [](const auto& a, const auto& b) { return std::less<const char*>()(a.first, b.first); });
        repeated->clear();
        for (auto& [at, key] : again)
            repeated->append(std::move(key));
    }
    return entries;
}

QString plainValue(QByteArrayView rawValue)
{
    return QString::fromUtf8(trimmedValue(rawValue));
}

} // namespace IniKeyScan
