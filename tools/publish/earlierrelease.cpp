// Reads a published version with the updater's entry format.
#include "earlierrelease.h"

#include "base/inivalue.h"
#include "publishexit.h"
#include "release/releasenames.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

EarlierRelease readEarlierRelease(const QString& dir, const QString& clientType)
{
    EarlierRelease release;
    const QFileInfo info(dir);
    release.dir = info.absoluteFilePath();
    static const QRegularExpression digits(QStringLiteral("^[1-9][0-9]{0,9}$"));
    bool ok = digits.match(info.fileName()).hasMatch();
    release.version = ok ? info.fileName().toInt(&ok) : 0;
    if (!ok)
        throw ToolError(PublishInput,
            QStringLiteral("--delta-from takes a published version folder OUT_DIR/N, not %1").arg(dir));
    const QString ini = release.dir + QLatin1Char('/') + ReleaseNames::productIniName(clientType);
    if (!QFileInfo(ini).isFile())
        throw ToolError(PublishInput,
            QStringLiteral("No product ini of version %1 in %2 (is --type right?)")
                .arg(release.version)
                .arg(release.dir));
    QSettings settings(ini, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        throw ToolError(PublishInput, QStringLiteral("Cannot read the product ini %1").arg(ini));
    const QStringList sections = settings.childGroups();
    for (const QString& section : sections) {
        if (section == ReleaseNames::deleteSection())
            continue;
        settings.beginGroup(section);
        const QStringList keys = settings.allKeys();
        for (const QString& key : keys) {
            const std::optional<ProductEntry> entry = ProductEntry::parse(IniValue::text(settings, key));
            // A file the updater would not take cannot have been installed.
            if (!entry || !ReleaseNames::isPlainRelativePath(key)
                || !ReleaseNames::isPlainRelativePath(
                    entry->unpackedName.isEmpty() ? key : entry->unpackedName))
                continue;
            const QString installed = entry->isPacked() ? entry->unpackedName : key;
            release.files.insert(
                installed, {release.dir + QLatin1Char('/') + section + QLatin1Char('/') + key, *entry});
        }
        settings.endGroup();
    }
    return release;
}
