// The session record in update.ini.
#include "updateinidata.h"

#include <sys/stat.h>

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

} // namespace UpdateIniData
