// Name helpers of the work list records.
#include "filespecifications.h"

#include "release/releasenames.h"

QString FileReplaceSpecification::destFileName(const QString& prefix) const
{
    return ReleaseNames::withPrefix(pureDestFilePath(), prefix);
}

QString FileReplaceSpecification::oldDestFileName() const
{
    return destFileName(ReleaseNames::oldPrefix());
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
        summary.downloadBytes += entry.bytesToFetch();
    summary.installs = int(replaceList.size());
    summary.deletions = int(deleteList.size());
    return summary;
}
