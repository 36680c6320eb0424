// The updater reads the replies as Latin-1 text of bounded length and splits
// them at commas and '#': the checks here refuse what it would misread
// instead of letting it fail quietly on the client.
#include "serverconfig.h"

#include "base/inivalue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <iterator>

namespace {

// What the updater reads of each reply at most.
constexpr int versionReplyLimit = 511;
constexpr int newsReplyLimit = 4095;
constexpr int bannerReplyLimit = 1024;

const char* const channelNames[3] = {"stable", "beta", "alpha"};

bool isLatin1(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

QString checkChannel(const QString& name, const QString& entry)
{
    const qsizetype hash = entry.indexOf(QLatin1Char('#'));
    const QString version = hash < 0 ? entry : entry.left(hash);
    bool ok = false;
    const int number = version.toInt(&ok, 10);
    if (!ok || number <= 0)
        return QStringLiteral("The %1 version must be a whole number above 0, not \"%2\"").arg(name, version);
    if (entry.contains(QLatin1Char(',')))
        return QStringLiteral("The %1 display text may not contain a comma").arg(name);
    if (!isLatin1(entry))
        return QStringLiteral("The %1 display text holds characters outside Latin-1").arg(name);
    return {};
}

// Every key the server reads; anything else in the file is a mistake that
// would otherwise go unnoticed (a misspelt channel answers nothing).
const char* const knownKeys[] = {"server/bind", "server/versionPort", "server/bannerPort", "server/rate",
    "server/burst", "channels/stable", "channels/beta", "channels/alpha", "news/file", "news/text",
    "banner/image", "banner/click"};

QString unknownKeyProblem(QSettings& settings, const QString& path)
{
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys) {
        const bool known = std::any_of(std::begin(knownKeys), std::end(knownKeys),
            [&key](const char* name) { return key == QLatin1String(name); });
        if (!known)
            return QStringLiteral("Unknown setting %1 in %2").arg(key, path);
    }
    return {};
}

bool readPort(QSettings& settings, const QString& key, quint16& port)
{
    if (!settings.contains(key))
        return true;
    bool ok = false;
    const uint value = settings.value(key).toUInt(&ok);
    if (!ok || value > 65535)
        return false;
    port = quint16(value);
    return true;
}

} // namespace

QString readNewsFile(const QString& path, QString& news)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Cannot read the news file %1: %2").arg(path, file.errorString());
    news = QString::fromUtf8(file.readAll());
    return {};
}

bool parseAnswerRate(const QString& text, double& answersPerSecond)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !(value > 0) || !qIsFinite(value))
        return false;
    answersPerSecond = value;
    return true;
}

bool parseAnswerBurst(const QString& text, int& burst)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < 1)
        return false;
    burst = value;
    return true;
}

QString ServerConfig::loadIni(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return QStringLiteral("Configuration file not found: %1").arg(path);
    QSettings settings(path, QSettings::IniFormat);
    // The reader parses a section only when it is asked for; asking for
    // every key makes it find every line that is not one.
    const QString unknown = unknownKeyProblem(settings, path);
    if (settings.status() != QSettings::NoError)
        return QStringLiteral("Cannot parse the configuration file %1").arg(path);
    if (!unknown.isEmpty())
        return unknown;

    settings.beginGroup(QStringLiteral("server"));
    if (settings.contains(QStringLiteral("bind"))) {
        if (!bindAddress.setAddress(IniValue::text(settings, QStringLiteral("bind"))))
            return QStringLiteral("[server] bind is not an IP address");
    }
    if (!readPort(settings, QStringLiteral("versionPort"), versionPort)
        || !readPort(settings, QStringLiteral("bannerPort"), bannerPort))
        return QStringLiteral("[server] ports are numbers from 0 to 65535");
    if (settings.contains(QStringLiteral("rate"))
        && !parseAnswerRate(IniValue::text(settings, QStringLiteral("rate")), answersPerSecond))
        return QStringLiteral("[server] rate is a number of answers a second above 0");
    if (settings.contains(QStringLiteral("burst"))
        && !parseAnswerBurst(IniValue::text(settings, QStringLiteral("burst")), answerBurst))
        return QStringLiteral("[server] burst is a whole number of answers from 1");
    settings.endGroup();

    settings.beginGroup(QStringLiteral("channels"));
    for (int i = 0; i < 3; ++i)
        channels[i] = IniValue::text(settings, QLatin1String(channelNames[i]));
    settings.endGroup();

    settings.beginGroup(QStringLiteral("news"));
    const QString newsFile = IniValue::text(settings, QStringLiteral("file"));
    if (!newsFile.isEmpty()) {
        const QString error = readNewsFile(QFileInfo(path).dir().absoluteFilePath(newsFile), news);
        if (!error.isEmpty())
            return error;
    } else {
        news = IniValue::text(settings, QStringLiteral("text"));
    }
    settings.endGroup();

    settings.beginGroup(QStringLiteral("banner"));
    bannerImage = IniValue::text(settings, QStringLiteral("image"));
    bannerClick = IniValue::text(settings, QStringLiteral("click"));
    settings.endGroup();
    return {};
}

QString ServerConfig::checkSomethingToAnswer() const
{
    for (const QString& channel : channels) {
        if (!channel.isEmpty())
            return {};
    }
    return QStringLiteral("No channel has a version: give --stable, --beta or --alpha, or [channels] in "
                          "the configuration file");
}

QString ServerConfig::versionReply(QByteArray& out) const
{
    // Channels after the last configured one are left out; one in between
    // stays as an empty entry so that the later ones keep their position.
    int last = -1;
    for (int i = 0; i < 3; ++i) {
        if (!channels[i].isEmpty())
            last = i;
    }
    QStringList entries;
    for (int i = 0; i <= last; ++i) {
        if (!channels[i].isEmpty()) {
            const QString error = checkChannel(QLatin1String(channelNames[i]), channels[i]);
            if (!error.isEmpty())
                return error;
        }
        entries.append(channels[i]);
    }
    out = entries.join(QLatin1Char(',')).toLatin1();
    if (out.size() > versionReplyLimit)
        return QStringLiteral("The version reply is %1 bytes long; the updater reads %2")
            .arg(out.size())
            .arg(versionReplyLimit);
    return {};
}

QString ServerConfig::newsReply(QByteArray& out) const
{
    // The ticker shows HTML: a character beyond Latin-1 travels as a
    // character reference instead of being lost in the Latin-1 reply.
    QString text;
    const QList<uint> codePoints = news.toUcs4();
    for (const uint cp : codePoints)
        text += cp > 0xFF ? QStringLiteral("&#%1;").arg(cp) : QString(QChar(char16_t(cp)));
    out = text.toLatin1();
    if (out.contains('\0'))
        return QStringLiteral("The news text may not contain a zero byte");
    if (out.size() > newsReplyLimit)
        return QStringLiteral("The news text is %1 bytes long; the updater reads %2")
            .arg(out.size())
            .arg(newsReplyLimit);
    return {};
}

QString ServerConfig::bannerReply(QByteArray& out) const
{
    if (bannerImage.isEmpty() != bannerClick.isEmpty())
        return QStringLiteral("The banner needs both an image URL and a click URL");
    if (bannerImage.contains(QLatin1Char(',')) || bannerClick.contains(QLatin1Char(',')))
        return QStringLiteral("The banner URLs may not contain a comma");
    if (!isLatin1(bannerImage + bannerClick))
        return QStringLiteral("The banner URLs hold characters outside Latin-1");
    out = (bannerImage + QLatin1Char(',') + bannerClick).toLatin1();
    if (out.size() > bannerReplyLimit)
        return QStringLiteral("The banner reply is %1 bytes long; the updater reads %2")
            .arg(out.size())
            .arg(bannerReplyLimit);
    return {};
}
