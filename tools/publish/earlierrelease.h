// An earlier version as it lies published in the output folder: what each of
// its files installs in a client and where that content lies in the tree, the
// starting points of the new version's patches.
#pragma once

#include "release/productentry.h"

#include <QHash>
#include <QString>

struct EarlierFile {
    QString mirrorPath; // absolute path of the file in the earlier version's folder
    ProductEntry entry; // as the earlier product ini lists it

    /// What a client of that version has installed: the unpacked content of a
    /// packed file, the file itself otherwise.
    QString installedMd5() const { return (entry.isPacked() ? entry.unpackedMd5 : entry.md5).toLower(); }
    quint64 installedSize() const { return entry.isPacked() ? entry.unpackedSize : entry.size; }
};

struct EarlierRelease {
    int version = 0;
    QString dir;
    QHash<QString, EarlierFile> files; // by installed path
};

/// Reads the version folder dir (OUT_DIR/N) of clientType: N is its name.
/// Throws ToolError(PublishInput) when dir is not named by a version number
/// or its product ini is missing or unreadable.
EarlierRelease readEarlierRelease(const QString& dir, const QString& clientType);
