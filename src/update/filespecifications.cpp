// Name helpers of the work list records.
#include "filespecifications.h"

#include <QFileInfo>

#include "specialfiles.h"

QString FileReplaceSpecification::destFileName(const QString& prefix) const
{
    const QString path = pureDestFilePath();
    if (prefix.isEmpty())
        return path;
    const QFileInfo info(path);
    const QString dir = info.path();
    if (dir == QLatin1String("."))
        return prefix + info.fileName();
    return dir + QLatin1Char('/') + prefix + info.fileName();
}

QString FileReplaceSpecification::oldDestFileName() const
{
    return destFileName(SpecialFiles::renamePrefix());
}

void FileSpecifications::clear()
{
    downloadList.clear();
    replaceList.clear();
    deleteList.clear();
}

WorkListSummary FileSpecifications::summary() const
{
    WorkListSummary summary;
    summary.downloads = int(downloadList.size());
    for (const FileDownloadSpecification& entry : downloadList)
        summary.downloadBytes += entry.size;
    summary.installs = int(replaceList.size());
    summary.deletions = int(deleteList.size());
    return summary;
}
