// The shell pipeline the update benchmark measures the updater against: curl
// with six parallel transfers, md5sum -c, cp -r and one sync.
#pragma once

#include <QList>
#include <QString>

namespace BenchShell {

struct File {
    QString url;
    QString path; // relative to the download and the client directory
    QString md5;
};

struct Timing {
    bool ok = false;
    double seconds = 0; // the whole pipeline
    QString steps; // "curl 1.20 s, md5sum 0.31 s, ..."
    QString failure;
};

// Fetches every file into workDir/download, checks each with md5sum -c,
// copies the tree into clientDir and flushes it with sync.
Timing pipeline(const QList<File>& files, const QString& workDir, const QString& clientDir);
// One md5sum -c over the files as they lie below dir.
Timing md5sum(const QList<File>& files, const QString& dir, const QString& workDir);

} // namespace BenchShell
