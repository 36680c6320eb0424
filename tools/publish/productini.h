// Writes the product ini, the list of every file of a release, in the INI
// form the updater's settings reader gives back exactly.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct ProductEntry {
    QString section; // mirror folder
    QString key; // relative path of the file on the mirror and in the temporary directory
    QString value; // "md5::size" or "md5::size::unpacked md5::unpacked size::unpacked path"
};

// Writes entries and the "delete" section (omitted when deletions is empty) to
// path, then reads the file back as the updater does and throws ToolError
// unless every section, key and value comes back unchanged.
void writeProductIni(const QString& path, const QList<ProductEntry>& entries, const QStringList& deletions);
