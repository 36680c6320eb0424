// The release statement from the mirrors.
#include "releasestatementquery.h"

#include <utility>

#include <QDir>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>
#include <QUrl>

#include "base/approotpath.h"
#include "base/inivalue.h"
#include "crypto/tomcryptutil.h"
#include "crypto/trustedkeys.h"
#include "net/mirrors.h"

namespace {

// Far above the signature of the largest key a key file can hold.
constexpr qint64 maxSignatureBytes = 64 * 1024;

} // namespace

ReleaseStatementQuery::ReleaseStatementQuery(QNetworkAccessManager& manager, QStringList baseUrls,
    QString clientType, QString channel, QDateTime lastIssued)
    : manager(manager)
    , baseUrls(std::move(baseUrls))
    , clientType(std::move(clientType))
    , channel(std::move(channel))
    , lastIssued(std::move(lastIssued))
{
}

QStringList ReleaseStatementQuery::mirrorBaseUrls(bool alpha)
{
    const QDir root(AppRootPath::get());
    if (alpha) {
        const QSettings settings(root.filePath(QStringLiteral("update.ini")), QSettings::IniFormat);
        const QString url = IniValue::text(settings, QStringLiteral("Channel/alpha"));
        return url.isEmpty() ? QStringList() : QStringList {url};
    }
    QSettings settings(root.filePath(QStringLiteral("mirrors.ini")), QSettings::IniFormat);
    QStringList urls;
    for (const QString& name : Mirrors::listedNames(settings)) {
        const QString url = IniValue::text(settings, name + QStringLiteral("/url"));
        if (!url.isEmpty())
            urls.append(url);
    }
    return urls;
}

ReleaseStatementQuery::Result ReleaseStatementQuery::run()
{
    const QString name = ReleaseStatement::fileName(clientType);
    Result result;
    // The query comes before the update session, which sets the library up
    // otherwise; doing it twice changes nothing.
    try {
        crypt_init();
    } catch (const crypt_exception& e) {
        return {Outcome::Refused, {}, QString::fromLocal8Bit(e.what())};
    }
    for (const QString& baseUrl : std::as_const(baseUrls)) {
        const Fetch text = fetch(baseUrl, name, ReleaseStatement::maxBytes);
        if (text.status == Status::Interrupted)
            return {Outcome::Interrupted, {}, {}};
        if (text.status != Status::Fetched)
            continue;
        // The same rule as for the product ini: a ".sig256" is the
        // signature where there is one.
        const Fetch sig256 = fetch(baseUrl, name + QStringLiteral(".sig256"), maxSignatureBytes);
        Fetch sig;
        if (sig256.status == Status::Absent)
            sig = fetch(baseUrl, name + QStringLiteral(".sig"), maxSignatureBytes);
        if (sig256.status == Status::Interrupted || sig.status == Status::Interrupted)
            return {Outcome::Interrupted, {}, {}};

        ReleaseStatement::Channel entry;
        bool noEntry = false;
        const QString problem = judge(baseUrl, text.body, sig256, sig, &entry, &noEntry);
        if (problem.isEmpty() && !noEntry)
            return {Outcome::Followed, entry, {}};
        if (!problem.isEmpty()) {
            emit message(
                QStringLiteral("Not following the release statement on %1: %2").arg(baseUrl, problem));
            result = {Outcome::Refused, {}, problem};
        }
    }
    return result;
}

QString ReleaseStatementQuery::judge(const QString& baseUrl, const QByteArray& text, const Fetch& sig256,
    const Fetch& sig, ReleaseStatement::Channel* entry, bool* noEntry) const
{
    const QString name = ReleaseStatement::fileName(clientType);
    const bool strong = sig256.status == Status::Fetched;
    if (!strong && sig.status != Status::Fetched)
        return QStringLiteral("The release statement %1 on %2 has no signature").arg(name, baseUrl);
    if (!TrustedKeys::verify(
            text, strong ? sig256.body : sig.body, strong ? SignatureHash::Sha256 : SignatureHash::Sha1))
        return QStringLiteral("The release statement %1 on %2 does not verify").arg(name, baseUrl);
    QString problem;
    const std::optional<ReleaseStatement> statement = ReleaseStatement::parse(text, &problem);
    if (!statement)
        return QStringLiteral("The release statement %1 on %2 cannot be read: %3")
            .arg(name, baseUrl, problem);
    *noEntry = !statement->hasChannel(channel);
    if (*noEntry)
        return {};
    problem = statement->problemFor(channel, clientType, QDateTime::currentDateTimeUtc(), lastIssued);
    if (problem.isEmpty())
        *entry = statement->channels.value(channel);
    return problem;
}

ReleaseStatementQuery::Fetch ReleaseStatementQuery::fetch(
    const QString& baseUrl, const QString& name, qint64 maxBytes)
{
    QString url = baseUrl;
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    QNetworkRequest request {QUrl(url + name)};
    // What is signed are the bytes as they lie on the mirror.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = manager.get(request);

    Fetch result;
    bool givenUp = false;
    QEventLoop loop;
    QTimer stall;
    stall.setSingleShot(true);
    const auto giveUp = [&] {
        givenUp = true;
        reply->abort();
    };
    connect(&stall, &QTimer::timeout, &loop, giveUp);
    connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        stall.start(stallTimeoutMs);
        result.body += reply->read(maxBytes + 1 - result.body.size());
        // A mirror could send without end; a statement is small.
        if (result.body.size() > maxBytes)
            giveUp();
    });
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    stall.start(stallTimeoutMs);
    if (!reply->isFinished())
        loop.exec();

    if (reply->isFinished() && !givenUp)
        result.body += reply->read(maxBytes + 1 - result.body.size());
    if (result.body.size() > maxBytes)
        givenUp = true;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!reply->isFinished() && !givenUp)
        result.status = Status::Interrupted;
    else if (givenUp || reply->error() != QNetworkReply::NoError)
        result.status = status == 404 ? Status::Absent : Status::Failed;
    else
        result.status = status == 200 ? Status::Fetched : status == 404 ? Status::Absent : Status::Failed;
    reply->disconnect(&loop);
    reply->abort();
    reply->deleteLater();
    if (result.status != Status::Fetched)
        result.body.clear();
    return result;
}
