// The release statement's format.
#include "releasestatement.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

namespace {

const QString versionKey = QStringLiteral("version");
const QString typeKey = QStringLiteral("type");
const QString digestKey = QStringLiteral("productIniSha256");
const QString issuedKey = QStringLiteral("issued");
const QString expiresKey = QStringLiteral("expires");
const QString displayKey = QStringLiteral("display");
const QString newsKey = QStringLiteral("news");

bool matches(const QString& pattern, const QString& text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch();
}

QString escaped(QString text)
{
    return text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

std::optional<QString> unescaped(const QString& text)
{
    QString result;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('\\')) {
            result += text.at(i);
            continue;
        }
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (next == QLatin1Char('n'))
            result += QLatin1Char('\n');
        else if (next == QLatin1Char('\\'))
            result += QLatin1Char('\\');
        else
            return std::nullopt;
        ++i;
    }
    return result;
}

std::optional<QDateTime> timeOf(const QString& text)
{
    if (!matches(QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ"), text))
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    // Qt rolls an impossible date such as February 30 into another one.
    if (!time.isValid() || ReleaseStatement::timeText(time) != text)
        return std::nullopt;
    return time.toUTC();
}

// Reads one field into entry; false, with why, for a malformed value.
bool readField(ReleaseStatement::Channel& entry, const QString& key, const QString& value, QString* why)
{
    if (key == versionKey) {
        bool ok = false;
        entry.version = value.toInt(&ok);
        if (ok && entry.version > 0 && matches(QStringLiteral("[0-9]+"), value))
            return true;
        *why = QStringLiteral("version \"%1\" is not a whole number from 1 to 2147483647").arg(value);
    } else if (key == typeKey) {
        entry.clientType = value;
        if (matches(QStringLiteral("[A-Za-z0-9_-][A-Za-z0-9._-]*"), value))
            return true;
        *why = QStringLiteral("type \"%1\" is not a client type").arg(value);
    } else if (key == digestKey) {
        entry.productIniSha256 = QByteArray::fromHex(value.toLatin1());
        if (matches(QStringLiteral("[0-9a-f]{64}"), value))
            return true;
        *why = QStringLiteral("productIniSha256 is not 64 lower-case hexadecimal digits");
    } else if (key == issuedKey || key == expiresKey) {
        const std::optional<QDateTime> time = timeOf(value);
        (key == issuedKey ? entry.issued : entry.expires) = time.value_or(QDateTime());
        if (time)
            return true;
        *why = QStringLiteral("%1 \"%2\" is not a time such as 2024-05-01T12:00:00Z").arg(key, value);
    } else if (key == displayKey) {
        entry.display = value;
        return true;
    } else if (key == newsKey) {
        const std::optional<QString> news = unescaped(value);
        entry.news = news.value_or(QString());
        if (news)
            return true;
        *why = QStringLiteral("news holds a backslash that is neither \\\\ nor \\n");
    } else {
        return true; // a field of a later publisher
    }
    return false;
}

QString missingField(const ReleaseStatement::Channel& entry)
{
    if (entry.version == 0)
        return versionKey;
    if (entry.clientType.isEmpty())
        return typeKey;
    if (entry.productIniSha256.isEmpty())
        return digestKey;
    if (!entry.issued.isValid())
        return issuedKey;
    if (!entry.expires.isValid())
        return expiresKey;
    return {};
}

} // namespace

std::optional<ReleaseStatement> ReleaseStatement::parse(const QByteArray& text, QString* problem)
{
    QString why;
    const auto fail = [&](int line, const QString& rule) {
        if (problem)
            *problem = line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(rule) : rule;
        return std::nullopt;
    };
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(text);
    if (decoder.hasError())
        return fail(0, QStringLiteral("not UTF-8 text"));

    ReleaseStatement statement;
    ReleaseStatement::Channel* entry = nullptr;
    ReleaseStatement::Channel skipped;
    QSet<QString> sections;
    QSet<QString> keys;
    const QStringList lines = decoded.split(QLatin1Char('\n'));
    for (int number = 1; number <= lines.size(); ++number) {
        const QString& line = lines.at(number - 1);
        for (const QChar c : line) {
            if (c.category() == QChar::Other_Control || c == QChar::LineSeparator
                || c == QChar::ParagraphSeparator)
                return fail(number, QStringLiteral("holds a control character"));
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const QString name = line.mid(1, line.size() - 2);
            if (!line.endsWith(QLatin1Char(']')) || !matches(QStringLiteral("[a-z0-9_-]+"), name))
                return fail(number, QStringLiteral("\"%1\" is not a channel heading").arg(line));
            if (sections.contains(name))
                return fail(number, QStringLiteral("channel %1 is given twice").arg(name));
            sections.insert(name);
            keys.clear();
            entry = channelNames().contains(name) ? &statement.channels[name] : &skipped;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0 || !entry)
            return fail(number, QStringLiteral("\"%1\" is not a field of a channel").arg(line));
        const QString key = line.left(equals);
        if (!matches(QStringLiteral("[A-Za-z0-9]+"), key))
            return fail(number, QStringLiteral("\"%1\" is not a field name").arg(key));
        if (keys.contains(key))
            return fail(number, QStringLiteral("%1 is given twice").arg(key));
        keys.insert(key);
        if (!readField(*entry, key, line.mid(equals + 1), &why))
            return fail(number, why);
    }
    for (auto it = statement.channels.cbegin(); it != statement.channels.cend(); ++it) {
        const QString missing = missingField(it.value());
        if (!missing.isEmpty())
            return fail(0, QStringLiteral("channel %1 has no %2").arg(it.key(), missing));
        if (it->expires <= it->issued)
            return fail(0, QStringLiteral("channel %1 expires before it was issued").arg(it.key()));
    }
    return statement;
}

QByteArray ReleaseStatement::toText() const
{
    QString text =
        QStringLiteral("; Release statement written by corvane-publish --channel; signed in .sig and "
                       ".sig256.\n");
    for (const QString& name : channelNames()) {
        if (!channels.contains(name))
            continue;
        const Channel& entry = channels[name];
        text += QStringLiteral("\n[%1]\n").arg(name);
        text += QStringLiteral("version=%1\n").arg(entry.version);
        if (!entry.display.isEmpty())
            text += QStringLiteral("display=%1\n").arg(entry.display);
        text += QStringLiteral("type=%1\n").arg(entry.clientType);
        text +=
            QStringLiteral("productIniSha256=%1\n").arg(QString::fromLatin1(entry.productIniSha256.toHex()));
        text += QStringLiteral("issued=%1\n").arg(timeText(entry.issued));
        text += QStringLiteral("expires=%1\n").arg(timeText(entry.expires));
        if (!entry.news.isEmpty())
            text += QStringLiteral("news=%1\n").arg(escaped(entry.news));
    }
    return text.toUtf8();
}

QString ReleaseStatement::problemFor(const QString& channel, const QString& clientType, const QDateTime& now,
    const QDateTime& lastIssued) const
{
    const auto found = channels.constFind(channel);
    if (found == channels.cend())
        return {};
    const QString which = QStringLiteral("%1 (%2 channel)").arg(clientType, channel);
    // The file's name is not signed: a statement of another type served
    // under ours names that other type.
    if (found->clientType != clientType)
        return QStringLiteral("The release statement of %1 names the client type %2")
            .arg(which, found->clientType);
    // An old statement, replayed, would hold the client where it was.
    if (now >= found->expires)
        return QStringLiteral("The release statement of %1 expired on %2")
            .arg(which, timeText(found->expires));
    if (lastIssued.isValid() && found->issued < lastIssued)
        return QStringLiteral(
            "The release statement of %1 was issued on %2, before the one of %3 already followed")
            .arg(which, timeText(found->issued), timeText(lastIssued));
    return {};
}

QString ReleaseStatement::fileName(const QString& clientType)
{
    return clientType + QStringLiteral(".channels");
}

const QStringList& ReleaseStatement::channelNames()
{
    static const QStringList names {
        QStringLiteral("stable"), QStringLiteral("beta"), QStringLiteral("alpha")};
    return names;
}

QString ReleaseStatement::timeText(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}
