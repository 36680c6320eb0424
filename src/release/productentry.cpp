// Reading and writing the value of a file entry of the product ini.
#include "productentry.h"

#include <QStringList>

#include "releasefields.h"

namespace {

constexpr qsizetype plainFields = 2;
constexpr qsizetype packedFields = 5;

} // namespace

std::optional<ProductEntry> ProductEntry::parse(const QString& value)
{
    const QStringList fields = value.split(ReleaseFields::separator(), Qt::KeepEmptyParts);
    if (fields.size() != plainFields && fields.size() != packedFields)
        return std::nullopt;
    const std::optional<quint64> size = ReleaseFields::parseSize(fields.at(1));
    if (!ReleaseFields::isMd5Text(fields.at(0)) || !size)
        return std::nullopt;
    ProductEntry entry;
    entry.md5 = fields.at(0);
    entry.size = *size;
    if (fields.size() == plainFields)
        return entry;
    const std::optional<quint64> unpackedSize = ReleaseFields::parseSize(fields.at(3));
    if (!ReleaseFields::isMd5Text(fields.at(2)) || !unpackedSize || fields.at(4).isEmpty())
        return std::nullopt;
    entry.unpackedMd5 = fields.at(2);
    entry.unpackedSize = *unpackedSize;
    entry.unpackedName = fields.at(4);
    return entry;
}

QString ProductEntry::toText() const
{
    Q_ASSERT(canCarryUnpackedName(unpackedName));
    const QString& separator = ReleaseFields::separator();
    QString text = md5 + separator + QString::number(size);
    if (isPacked())
        text +=
            separator + unpackedMd5 + separator + QString::number(unpackedSize) + separator + unpackedName;
    return text;
}

bool ProductEntry::canCarryUnpackedName(const QString& name)
{
    return !name.contains(ReleaseFields::separator());
}

bool operator==(const ProductEntry& a, const ProductEntry& b)
{
    return a.md5 == b.md5 && a.size == b.size && a.unpackedMd5 == b.unpackedMd5
        && a.unpackedSize == b.unpackedSize && a.unpackedName == b.unpackedName;
}
