// Reading and writing the patch index.
#include "patchindex.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>

#include "base/inivalue.h"
#include "release/releasefields.h"
#include "release/releasenames.h"

namespace {

constexpr qsizetype fieldCount = 6;

// A section names the earlier version in plain decimal, as the mirror's
// version folders do.
std::optional<int> sectionVersion(const QString& name)
{
    if (name.isEmpty() || name.size() > 10
        || !std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    bool ok = false;
    const int version = name.toInt(&ok);
    return ok && version > 0 ? std::optional<int>(version) : std::nullopt;
}

} // namespace

std::optional<PatchEntry> PatchEntry::parse(const QString& target, const QString& value)
{
    const QStringList fields = value.split(ReleaseFields::separator(), Qt::KeepEmptyParts);
    if (fields.size() != fieldCount)
        return std::nullopt;
    const std::optional<quint64> baseSize = ReleaseFields::parseSize(fields.at(1));
    const std::optional<quint64> patchSize = ReleaseFields::parseSize(fields.at(4));
    const QString& path = fields.at(5);
    if (!ReleaseFields::isMd5Text(fields.at(0)) || !baseSize || !ReleaseFields::isMd5Text(fields.at(2))
        || !ReleaseFields::isMd5Text(fields.at(3)) || !patchSize || !ReleaseNames::isPlainRelativePath(path)
        || ReleaseNames::hasControlCharacter(path)
        || !ReleaseNames::fileNameProblem(target, ReleaseNames::Rules::Updater).isEmpty())
        return std::nullopt;
    PatchEntry entry;
    entry.target = target;
    entry.baseMd5 = fields.at(0);
    entry.baseSize = *baseSize;
    entry.targetMd5 = fields.at(2);
    entry.patchMd5 = fields.at(3);
    entry.patchSize = *patchSize;
    entry.patchPath = path;
    return entry;
}

QString PatchEntry::toText() const
{
    Q_ASSERT(canCarry(patchPath));
    return QStringList {
        baseMd5, QString::number(baseSize), targetMd5, patchMd5, QString::number(patchSize), patchPath}
        .join(ReleaseFields::separator());
}

bool PatchEntry::canCarry(const QString& patchPath)
{
    return !patchPath.contains(ReleaseFields::separator());
}

bool operator==(const PatchEntry& a, const PatchEntry& b)
{
    return a.target == b.target && a.baseMd5 == b.baseMd5 && a.baseSize == b.baseSize
        && a.targetMd5 == b.targetMd5 && a.patchMd5 == b.patchMd5 && a.patchSize == b.patchSize
        && a.patchPath == b.patchPath;
}

void PatchIndex::add(int from, const PatchEntry& entry)
{
    QList<PatchEntry>& section = bySection[from];
    const auto at = std::lower_bound(section.begin(), section.end(), entry,
        [](const PatchEntry& a, const PatchEntry& b) { return a.target < b.target; });
    section.insert(at, entry);
    byTarget[entry.target].append(entry);
}

QList<PatchEntry> PatchIndex::patchesOf(const QString& target) const
{
    return byTarget.value(target);
}

int PatchIndex::size() const
{
    int count = 0;
    for (const QList<PatchEntry>& section : bySection)
        count += int(section.size());
    return count;
}

std::optional<PatchIndex> PatchIndex::read(const QString& path, QString* problem)
{
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *problem = QStringLiteral("it does not parse");
        return std::nullopt;
    }
    if (!settings.childKeys().isEmpty()) {
        *problem = QStringLiteral("it has keys outside any section");
        return std::nullopt;
    }
    PatchIndex index;
    const QStringList groups = settings.childGroups();
    for (const QString& group : groups) {
        const std::optional<int> from = sectionVersion(group);
        if (!from) {
            *problem =
                QStringLiteral("section %1 does not name a version").arg(ReleaseNames::printable(group));
            return std::nullopt;
        }
        settings.beginGroup(group);
        const QStringList keys = settings.allKeys();
        for (const QString& key : keys) {
            const std::optional<PatchEntry> entry = PatchEntry::parse(key, IniValue::text(settings, key));
            if (!entry) {
                *problem =
                    QStringLiteral("invalid entry %1 in section %2").arg(ReleaseNames::printable(key), group);
                return std::nullopt;
            }
            index.add(*from, *entry);
        }
        settings.endGroup();
    }
    return index;
}

bool PatchIndex::write(const QString& path, QString* error) const
{
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.clear();
        for (auto section = bySection.cbegin(); section != bySection.cend(); ++section) {
            settings.beginGroup(QString::number(section.key()));
            for (const PatchEntry& entry : section.value())
                settings.setValue(entry.target, entry.toText());
            settings.endGroup();
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            *error = QStringLiteral("Cannot write the patch index %1").arg(path);
            return false;
        }
    }
    QString problem;
    const std::optional<PatchIndex> readBack = read(path, &problem);
    if (!readBack || readBack->bySection != bySection) {
        *error = QStringLiteral("The patch index %1 does not read back as written%2")
                     .arg(path, problem.isEmpty() ? QString() : QStringLiteral(": ") + problem);
        return false;
    }
    return true;
}
