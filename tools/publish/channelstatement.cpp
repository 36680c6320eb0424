// Each file is written beside its place and renamed into it, so a mirror
// that syncs the folder never sees half of one; the three still change one
// after the other, so an updater that reads them in between finds the
// signature wrong for once and tries the next mirror.
#include "channelstatement.h"

#include "posixfile.h"
#include "publishexit.h"
#include "release/releasenames.h"
#include "release/releasestatement.h"
#include "releasesigner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

QByteArray readWhole(const QString& path, const QString& what)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ToolError(
            PublishInput, QStringLiteral("Cannot read %1 %2: %3").arg(what, path, file.errorString()));
    return file.readAll();
}

// The statement is read line by line: a news file's own line ends become
// escapes, and a character that would break a line is refused.
QString newsText(const QString& newsFile)
{
    QString news = QString::fromUtf8(readWhole(newsFile, QStringLiteral("the news"))).trimmed();
    news.remove(QLatin1Char('\r')).replace(QLatin1Char('\t'), QLatin1Char(' '));
    if (ReleaseNames::hasControlCharacter(QString(news).remove(QLatin1Char('\n'))))
        throw ToolError(PublishContent, QStringLiteral("The news %1 holds control characters").arg(newsFile));
    return news;
}

void writeInPlace(const QString& path, const QByteArray& content)
{
    const QString temporary = path + QStringLiteral(".new");
    PosixFile out = PosixFile::createForWriting(temporary, 0644);
    out.write(content.constData(), content.size());
    out.close();
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0)
        throw ToolError(PublishOutput, QStringLiteral("Cannot replace %1: %2").arg(path, systemReason()));
}

} // namespace

StatementSummary writeStatement(const StatementOptions& options, const ReleaseSigner& signer)
{
    if (ReleaseNames::hasControlCharacter(options.display))
        throw ToolError(PublishUsage, QStringLiteral("The display text holds control characters"));
    const QString ini = QDir(options.outDir)
                            .filePath(QString::number(options.version) + QLatin1Char('/')
                                + ReleaseNames::productIniName(options.clientType));
    if (!QFileInfo(ini).isFile())
        throw ToolError(PublishInput,
            QStringLiteral("Version %1 of %2 is not published in %3: %4 is missing")
                .arg(options.version)
                .arg(options.clientType, options.outDir, ini));
    const QString path = QDir(options.outDir).filePath(ReleaseStatement::fileName(options.clientType));

    ReleaseStatement statement;
    if (QFileInfo::exists(path)) {
        QString problem;
        const std::optional<ReleaseStatement> existing =
            ReleaseStatement::parse(readWhole(path, QStringLiteral("the release statement")), &problem);
        if (!existing)
            throw ToolError(PublishInput,
                QStringLiteral(
                    "The release statement %1 cannot be read (%2); move it away to start a new one")
                    .arg(path, problem));
        statement = *existing;
    }

    ReleaseStatement::Channel& entry = statement.channels[options.channel];
    QDateTime issued = QDateTime::currentDateTimeUtc();
    issued.setTime(QTime(issued.time().hour(), issued.time().minute(), issued.time().second()));
    // Updaters refuse a statement older than one they followed: never issue
    // one before the entry it replaces, whatever this machine's clock says.
    if (entry.issued.isValid() && issued < entry.issued)
        issued = entry.issued;
    entry.version = options.version;
    entry.clientType = options.clientType;
    entry.productIniSha256 = QCryptographicHash::hash(
        readWhole(ini, QStringLiteral("the product ini")), QCryptographicHash::Sha256);
    entry.issued = issued;
    entry.expires = issued.addDays(options.expiresDays);
    entry.display = options.display;
    entry.news = options.newsFile.isEmpty() ? QString() : newsText(options.newsFile);

    const QByteArray text = statement.toText();
    if (text.size() > ReleaseStatement::maxBytes)
        throw ToolError(PublishContent,
            QStringLiteral("The release statement would be %1 bytes long; updaters read at most %2")
                .arg(text.size())
                .arg(ReleaseStatement::maxBytes));
    // Never publish a statement the updater would not read as written.
    const std::optional<ReleaseStatement> check = ReleaseStatement::parse(text);
    if (!check || check->toText() != text)
        throw ToolError(
            PublishContent, QStringLiteral("The release statement would not read back as written"));

    // Signed under a name of its own, so the signatures put in place are
    // those of the statement that follows them.
    const QString staged = path + QStringLiteral(".staged");
    writeInPlace(staged, text);
    signer.signFile(staged);
    for (const QString& suffix : {QStringLiteral(".sig256"), QStringLiteral(".sig")})
        writeInPlace(path + suffix, readWhole(staged + suffix, QStringLiteral("the new signature")));
    writeInPlace(path, text);
    for (const QString& suffix : {QString(), QStringLiteral(".sig256"), QStringLiteral(".sig")})
        QFile::remove(staged + suffix);
    return {path, ReleaseStatement::timeText(entry.expires)};
}
