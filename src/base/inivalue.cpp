// Reading text values from INI files.
#include "inivalue.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace IniValue {

QString text(const QSettings& settings, const QString& key)
{
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

} // namespace IniValue
