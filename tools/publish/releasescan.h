// Lists the files of a release folder as the mirror folders (product ini
// sections) and relative paths under which they are published.
#pragma once

#include <QList>
#include <QString>

struct ReleaseFile {
    QString section; // mirror folder
    QString path; // relative path with "/" separators, also the installed path
    QString source; // absolute path of the file on disk
    quint64 size = 0;
};

/// Every regular file below root, sorted by section and path. With
/// folderSections each top-level folder of root is a section of its own and
/// files directly in root go to defaultSection; otherwise everything does.
/// Throws ToolError for a missing folder, symbolic links, special files and
/// names the updater cannot carry.
QList<ReleaseFile> scanRelease(const QString& root, const QString& defaultSection, bool folderSections);
