// Writes the product ini, the list of every file of a release, in the INI
// form the updater's settings reader gives back exactly.
#pragma once

#include "release/productentry.h"

#include <QList>
#include <QString>
#include <QStringList>

struct ListedFile {
    QString section; // mirror folder
    QString key; // relative path of the file on the mirror and in the temporary directory
    ProductEntry entry;
};

/// Writes files and the "delete" section (omitted when deletions is empty) to
/// path, then reads the file back as the updater does and throws ToolError
/// unless every section, key and value comes back unchanged.
void writeProductIni(const QString& path, const QList<ListedFile>& files, const QStringList& deletions);
