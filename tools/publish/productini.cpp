// The settings class itself writes the file: it escapes blanks, non-ASCII
// letters, commas and the "General" section the way its reader undoes. The
// read-back check catches whatever it cannot carry all the same.
#include "productini.h"

#include "filepacker.h"
#include "publishexit.h"
#include "release/releasenames.h"

#include <QMap>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariant>

namespace {

using Sections = QMap<QString, QMap<QString, QString>>;

Sections expectedSections(const QList<ListedFile>& files, const QStringList& deletions)
{
    Sections sections;
    for (const ListedFile& file : files)
        sections[file.section].insert(file.key, file.entry.toText());
    for (const QString& path : deletions)
        sections[ReleaseNames::deleteSection()].insert(path, QString());
    return sections;
}

// Reads draft back; failures name the product ini as published, target.
void verifyReadBack(const QString& draft, const QString& target, const Sections& expected)
{
    const auto fail = [&target](const QString& what) {
        return ToolError(PublishContent,
            QStringLiteral("The product ini %1 does not read back as written: %2").arg(target, what));
    };
    QSettings settings(draft, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        throw fail(QStringLiteral("the file does not parse"));
    if (!settings.childKeys().isEmpty())
        throw fail(QStringLiteral("keys outside any section"));
    const QStringList groups = settings.childGroups();
    if (groups.size() != expected.size())
        throw fail(QStringLiteral("%1 sections instead of %2").arg(groups.size()).arg(expected.size()));
    for (auto section = expected.cbegin(); section != expected.cend(); ++section) {
        if (!groups.contains(section.key()))
            throw fail(QStringLiteral("section %1 is missing").arg(section.key()));
        settings.beginGroup(section.key());
        const QStringList keys = settings.allKeys();
        if (keys.size() != section->size())
            throw fail(QStringLiteral("section %1 has %2 keys instead of %3")
                           .arg(section.key())
                           .arg(keys.size())
                           .arg(section->size()));
        for (auto entry = section->cbegin(); entry != section->cend(); ++entry) {
            const QVariant value = settings.value(entry.key());
            // A value that comes back as a list (an unquoted comma) or with a
            // different text would be a different file to the updater.
            if (value.typeId() != QMetaType::QString || value.toString() != entry.value())
                throw fail(QStringLiteral("%1 in section %2").arg(entry.key(), section.key()));
        }
        settings.endGroup();
    }
}

} // namespace

void writeProductIni(const QString& path, const QList<ListedFile>& files, const QStringList& deletions)
{
    const Sections sections = expectedSections(files, deletions);
    // The settings writer says only that it failed, never why; it writes
    // into a scratch folder, and the copy into the mirror tree names the
    // reason when the output folder is full or cannot be written.
    const QTemporaryDir scratch;
    if (!scratch.isValid())
        throw ToolError(PublishOutput,
            QStringLiteral("Cannot create a temporary folder for the product ini: %1")
                .arg(scratch.errorString()));
    const QString draft = scratch.filePath(QStringLiteral("product.ini"));
    {
        QSettings settings(draft, QSettings::IniFormat);
        for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
            settings.beginGroup(section.key());
            for (auto entry = section->cbegin(); entry != section->cend(); ++entry)
                settings.setValue(entry.key(), entry.value());
            settings.endGroup();
        }
        settings.sync();
        if (settings.status() != QSettings::NoError)
            throw ToolError(PublishOutput, QStringLiteral("Cannot write the product ini %1").arg(draft));
    }
    verifyReadBack(draft, path, sections);
    copyFile(draft, path);
}
