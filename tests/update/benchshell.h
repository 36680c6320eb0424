// The shell pipeline the update benchmark measures the updater against: curl
// with six parallel transfers, md5sum -c, cp -r and one sync.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

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
    QList<double> stepSeconds; // each step's time, in the order of steps
    QString failure;
};

// curl alone, fetching every file into workDir/download with six parallel
// transfers; extraArguments go before the list (--cacert for a test
// certificate, for one).
Timing curl(const QList<File>& files, const QString& workDir, const QStringList& extraArguments = {});
// A binary patch among the files, turned into the new file by zstd with the
// installed version as its reference once it is fetched and checked.
struct Patch {
    QString path; // the patch's, as in File
    QString installed; // the installed version, an absolute path
    File result; // the new file; its url is not used
};

// Fetches every file into workDir/download, checks each with md5sum -c,
// copies the tree into clientDir and flushes it with sync. With a patch, the
// patch is applied (zstd -d --patch-from, the patch removed) and the result
// checked with md5sum -c before the copy.
Timing pipeline(const QList<File>& files, const QString& workDir, const QString& clientDir,
    const std::optional<Patch>& patch = {});
// One md5sum -c over the files as they lie below dir.
Timing md5sum(const QList<File>& files, const QString& dir, const QString& workDir);

} // namespace BenchShell
