// The one configuration of an updater run.
#include "configuration.h"

#include "base/approotpath.h"
#include "base/inivalue.h"
#include "release/releasenames.h"
#include "release/specialfiles.h"
#include "releasestatementquery.h"
#include "update/updateinidata.h"
#include "update/updateparameters.h"
#include "updatechecker.h"
#include "userquestions.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QSettings>

#include <cerrno>

#include <sys/stat.h>
#include <sys/types.h>

namespace {

constexpr int defaultStreams = 6;
constexpr int tempDirCandidates = 1000;
// Hexadecimal digits of the installation's tag in temporary directory names.
constexpr int installationTagDigits = 12;

} // namespace

Configuration::Configuration(QObject* parent)
    : QObject(parent)
{
}

bool Configuration::parseCommandLineOptions()
{
    return parseCommandLineOptions(QCoreApplication::arguments());
}

bool Configuration::parseCommandLineOptions(const QStringList& arguments)
{
    m_versionFromNetwork = false;
    m_versionRefused = false;
    m_productIniSha256.clear();
    m_statementIssued = QDateTime();
    return resolveParameters(arguments) && acceptTarget();
}

bool Configuration::acceptTarget()
{
    // Installations from before the record have none: nothing to compare.
    const int installed = UpdateIniData::installedVersion();
    if (installed == 0 || m_clientVersion >= installed)
        return true;
    // An older release may still be validly signed on the mirrors, holes and
    // all; only the user can want it back.
    if (!m_versionFromNetwork && localDowngradeAllowed)
        return true;
    refuse(QStringLiteral("Refusing to go back from version %1 to %2").arg(installed).arg(m_clientVersion));
    return false;
}

void Configuration::refuse(const QString& reason)
{
    m_versionRefused = true;
    Q_EMIT refused(reason);
}

bool Configuration::resolveParameters(const QStringList& arguments)
{
    getUpdateChannel();
    m_runMode = RunMode::Interactive;
    // alphaRevno is the version to install: as invalid there as anywhere.
    if (m_clientVersion < 0) {
        Q_EMIT fatalError(QObject::tr("Invalid version nr (%1)").arg(m_clientVersion));
        m_clientVersion = 0;
        return false;
    }
    const int count = static_cast<int>(arguments.size()) - 1;

    if (count >= 1 && arguments.at(1) == QLatin1String("--nouser")) {
        if (count >= 3 && !getClientTypeVersion(arguments, 2))
            return false;
        if (count >= 4 && arguments.at(4) != QLatin1String("#"))
            m_versionString = arguments.at(4);
        if (count >= 5)
            m_news = arguments.at(5);
        if (!getDefaultParameters())
            return false;
        m_runMode = RunMode::Unattended;
        return true;
    }
    if (count == 2)
        return getClientTypeVersion(arguments, 1);
    return getDefaultParameters();
}

void Configuration::getUpdateChannel()
{
    QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Channel"));
    if (!IniValue::text(settings, QStringLiteral("alpha")).isEmpty()) {
        m_channel = Alpha;
        m_clientVersion = settings.value(QStringLiteral("alphaRevno"), 0).toInt();
    } else {
        m_channel = settings.value(QStringLiteral("beta"), false).toBool() ? Beta : Stable;
        m_clientVersion = 0;
    }
    settings.endGroup();
}

bool Configuration::getClientTypeVersion(const QStringList& arguments, int index)
{
    if (index >= arguments.size()) {
        Q_EMIT fatalError(QStringLiteral("No client type specified"));
        return false;
    }
    m_clientType = arguments.at(index);
    if (index + 1 >= arguments.size()) {
        Q_EMIT fatalError(QStringLiteral("No client version specified"));
        return false;
    }
    return getClientVersionFromString(arguments.at(index + 1), QObject::tr("Invalid version nr (%1)"));
}

bool Configuration::getClientVersionFromString(const QString& text, const QString& errorFormat)
{
    // A version set earlier (alphaRevno on the alpha channel) wins over the
    // command line and the server.
    if (m_clientVersion != 0)
        return true;
    bool ok = false;
    const int version = text.toInt(&ok, 10);
    // Releases are numbered from 1. A version 0 or below names none, and
    // every mirror would be blamed for the "not found" that follows.
    if (!ok || version <= 0) {
        Q_EMIT fatalError(errorFormat.arg(text));
        return false;
    }
    m_clientVersion = version;
    return true;
}

bool Configuration::getDefaultParameters()
{
    if (m_clientType.isEmpty())
        m_clientType = getUpdateType();
    if (m_clientVersion != 0)
        return true;

    switch (followReleaseStatement()) {
    case Statement::Followed:
        return true;
    case Statement::Refused:
    case Statement::Interrupted:
        return false;
    case Statement::None:
        break;
    }

    const QPair<QString, QString> latest = getLatestClientVersion(m_channel, m_news);
    // Abort, or no entry for our channel: the start ends without a message.
    if (latest.first.isEmpty())
        return false;
    if (!getClientVersionFromString(
            latest.first, QObject::tr("Update server returned invalid version nr (%1)")))
        return false;
    m_versionFromNetwork = true;
    m_versionString = latest.second;
    return true;
}

Configuration::Statement Configuration::followReleaseStatement()
{
    if (!network)
        return Statement::None;
    const QString channel = channelName(m_channel);
    ReleaseStatementQuery query(*network, ReleaseStatementQuery::mirrorBaseUrls(m_channel == Alpha),
        m_clientType, channel, UpdateIniData::statementIssued(channel));
    connect(&query, &ReleaseStatementQuery::message, this, &Configuration::message);
    const ReleaseStatementQuery::Result result = query.run();
    switch (result.outcome) {
    case ReleaseStatementQuery::Outcome::None:
        return Statement::None;
    case ReleaseStatementQuery::Outcome::Interrupted:
        return Statement::Interrupted;
    case ReleaseStatementQuery::Outcome::Refused:
        // A statement that cannot be followed must not quietly hand the
        // decision back to the update server: it is how a client would be
        // held on an old release.
        m_versionFromNetwork = true;
        refuse(result.reason);
        return Statement::Refused;
    case ReleaseStatementQuery::Outcome::Followed:
        break;
    }
    const ReleaseStatement::Channel& entry = result.entry;
    m_clientVersion = entry.version;
    m_versionString = entry.display;
    m_versionFromNetwork = true;
    m_productIniSha256 = entry.productIniSha256;
    m_statementIssued = entry.issued;
    emit message(
        QStringLiteral("Following the release statement of %1 for the %2 channel: version %3, issued %4")
            .arg(m_clientType, channel)
            .arg(entry.version)
            .arg(ReleaseStatement::timeText(entry.issued)));
    // Signed news wins; the update server only brings news when the
    // statement has none, and no answer from it stops nothing.
    if (!entry.news.isEmpty()) {
        m_news = entry.news;
    } else {
        UpdateChecker checker;
        if (checker.checkUpdate())
            m_news = checker.newsText;
    }
    return Statement::Followed;
}

QPair<QString, QString> Configuration::getLatestClientVersion(UpdateChannel channel, QString& news)
{
    UpdateChecker checker;
    int failedTries = 0;
    while (!checker.checkUpdate()) {
        ++failedTries;
        if (!questions || !questions->retryLatestVersionQuery(failedTries))
            return {};
    }
    news = checker.newsText;
    return checker.getClientVersionByChannel(channel);
}

void Configuration::getProxyAndDownloadConcurrency()
{
    QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("update"));
    m_proxy = IniValue::text(settings, QStringLiteral("proxy"));
    m_downloadConcurrency = settings.value(QStringLiteral("streams"), defaultStreams).toInt();
    if (m_downloadConcurrency < 1)
        m_downloadConcurrency = defaultStreams;
    settings.endGroup();
}

bool Configuration::initializeStart(const QString& dir)
{
    if (dir.isEmpty())
        return createTempDir();
    m_tempDir = dir;
    return true;
}

bool Configuration::createTempDir()
{
    QString base = QDir::tempPath();
    if (base.isEmpty()) {
        // The folder TMPDIR names does not exist (a resolved path is empty then).
        Q_EMIT fatalError(tempDirFailure(qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp")), ENOENT));
        return false;
    }
    const QString parent = base;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    base += tempDirPrefix();

    // The shared temporary folder is writable by every local user. One
    // non-recursive mkdir per name fails when anyone else already holds it
    // (a directory, a file or a symbolic link), so we never adopt a planted
    // directory, and 0700 keeps the downloads private while they wait. Any
    // other failure (read-only, no permission, full) would befall every
    // name alike.
    int cause = EEXIST;
    for (int n = 0; n < tempDirCandidates && cause == EEXIST; ++n) {
        const QString candidate = base + QString::number(n);
        if (::mkdir(QFile::encodeName(candidate).constData(), S_IRWXU) == 0) {
            m_tempDir = candidate;
            return true;
        }
        cause = errno;
    }
    Q_EMIT fatalError(tempDirFailure(parent, cause));
    return false;
}

QString Configuration::tempDirPrefix()
{
    // Every installation of a user shares the temporary folder. Were the
    // names alike, a directory one of them recorded, then lost (a reboot),
    // could be made anew by another and then continued in, or emptied, by
    // both.
    const QDir root(getAppRootPath());
    const QString path = root.exists() ? root.canonicalPath() : root.absolutePath();
    const QByteArray tag = QCryptographicHash::hash(QFile::encodeName(path), QCryptographicHash::Sha256)
                               .toHex()
                               .left(installationTagDigits);
    return QStringLiteral("corvane_temp_") + QString::fromLatin1(tag) + QLatin1Char('_');
}

QString Configuration::tempDirFailure(const QString& parent, int errorCode)
{
    return QStringLiteral("Cannot create a temporary directory in %1: %2. The environment variable TMPDIR "
                          "chooses another place.")
        .arg(parent, qt_error_string(errorCode));
}

QString Configuration::getAppRootPath()
{
    return AppRootPath::get();
}

void Configuration::setAppRootPathOverride(const QString& path)
{
    AppRootPath::setOverride(path);
}

QString Configuration::getUpdateType()
{
    return QStringLiteral("client_linux_amd64");
}

QString Configuration::getClientBinaryName()
{
    return QStringLiteral("davuzodur_runscript.sh");
}

const QStringList& Configuration::getSpecialFileNames()
{
    return SpecialFiles::names();
}

bool Configuration::isSpecialFileName(const QString& name)
{
    return SpecialFiles::isSpecialFileName(name);
}

const QString& Configuration::getSpecialFileRenamePrefix()
{
    return ReleaseNames::oldPrefix();
}

void Configuration::setNetworkAccessManager(QNetworkAccessManager* manager)
{
    network = manager;
}

void Configuration::setQuestions(UserQuestions* questions)
{
    this->questions = questions;
}

UpdateParameters Configuration::updateParameters() const
{
    UpdateParameters parameters;
    parameters.clientDir = getAppRootPath();
    parameters.tempDir = m_tempDir;
    parameters.clientType = m_clientType;
    parameters.clientVersion = m_clientVersion;
    parameters.downloadConcurrency = m_downloadConcurrency;
    parameters.productIniSha256 = m_productIniSha256;
    return parameters;
}
