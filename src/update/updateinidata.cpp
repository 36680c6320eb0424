// The session record in update.ini.
#include "updateinidata.h"

#include <sys/stat.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QVariant>

#include "base/approotpath.h"
#include "base/inivalue.h"
#include "release/specialfiles.h"

namespace {

const QString currentGroup = QStringLiteral("current");
const QString versionKey = QStringLiteral("version");
const QString dirKey = QStringLiteral("dir");
const QString typeKey = QStringLiteral("type");
const QString installedGroup = QStringLiteral("installed");
// An issue time per channel: a client that changes channels must not have
// the other channel's statement refused as older than one it saw.
QString issuedKey(const QString& channel)
{
    return channel + QStringLiteral("Statement");
}

} // namespace

namespace UpdateIniData {

QString filename()
{
    return AppRootPath::get() + QLatin1Char('/') + SpecialFiles::updateIni();
}

bool get(int* version, QString* type, QString* dir)
{
    QSettings settings(filename(), QSettings::IniFormat);
    settings.beginGroup(currentGroup);
    bool versionOk = false;
    const int storedVersion = settings.value(versionKey).toInt(&versionOk);
    const QString storedDir = IniValue::text(settings, dirKey);
    const QString storedType = IniValue::text(settings, typeKey);
    settings.endGroup();

    if (!versionOk || storedType.isEmpty() || storedDir.isEmpty())
        return false;
    if (!QFileInfo::exists(storedDir))
        return false;
    if (version)
        *version = storedVersion;
    if (type)
        *type = storedType;
    if (dir)
        *dir = storedDir;
    return true;
}

QString writeRefusal()
{
    // The settings are saved through a new file renamed over the old one,
    // and a link is resolved first: its target would be replaced.
    struct stat info;
    if (::lstat(QFile::encodeName(filename()).constData(), &info) == 0 && S_ISLNK(info.st_mode))
        return QStringLiteral("update.ini is a symbolic link; not writing through it");
    return {};
}

bool modify(int version, const QString& dir, const QString& type)
{
    if (!writeRefusal().isEmpty())
        return false;
    QSettings settings(filename(), QSettings::IniFormat);
    settings.beginGroup(currentGroup);
    settings.setValue(versionKey, version);
    settings.setValue(dirKey, dir);
    settings.setValue(typeKey, type);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

void cleanup()
{
    if (!writeRefusal().isEmpty())
        return;
    QSettings settings(filename(), QSettings::IniFormat);
    settings.remove(currentGroup);
}

int installedVersion()
{
    QSettings settings(filename(), QSettings::IniFormat);
    bool ok = false;
    const int version = settings.value(installedGroup + QLatin1Char('/') + versionKey).toInt(&ok);
    return ok && version > 0 ? version : 0;
}

QDateTime statementIssued(const QString& channel)
{
    QSettings settings(filename(), QSettings::IniFormat);
    const QString text = IniValue::text(settings, installedGroup + QLatin1Char('/') + issuedKey(channel));
    return QDateTime::fromString(text, Qt::ISODate);
}

bool recordInstalled(int version, const QString& channel, const QDateTime& issued)
{
    if (!writeRefusal().isEmpty())
        return false;
    QSettings settings(filename(), QSettings::IniFormat);
    settings.beginGroup(installedGroup);
    settings.setValue(versionKey, version);
    if (issued.isValid())
        settings.setValue(issuedKey(channel), issued.toUTC().toString(Qt::ISODate));
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace UpdateIniData
