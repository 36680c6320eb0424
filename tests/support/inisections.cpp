// Reading an INI file's sections two ways for comparison.
#include "inisections.h"

#include <QSettings>

#include "base/inivalue.h"

namespace IniSections {

namespace {

QString line(const QString& section, const QString& key, const QString& value)
{
    return section + QLatin1Char('/') + key + QLatin1Char('=') + value;
}

} // namespace

QStringList asRead(const QString& path)
{
    QSettings settings(path, QSettings::IniFormat);
    QStringList read;
    const QStringList groups = settings.childGroups();
    for (const QString& group : groups) {
        settings.beginGroup(group);
        const QStringList keys = settings.allKeys();
        for (const QString& key : keys)
            read.append(line(group, key, IniValue::text(settings, key)));
        settings.endGroup();
    }
    return read;
}

QStringList asScanned(const std::vector<IniKeyScan::SectionEntry>& entries)
{
    QStringList scanned;
    for (const IniKeyScan::SectionEntry& entry : entries)
        scanned.append(line(entry.section, entry.key, IniKeyScan::plainValue(entry.rawValue)));
    return scanned;
}

} // namespace IniSections
