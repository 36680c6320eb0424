// The download stage of an update.
#include "downloadfilelisttaskspecification.h"

#include <cerrno>

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include "base/writefailure.h"
#include "fileops/pathguard.h"
#include "update/downloadfiletaskspecification.h"

DownloadFileListTaskSpecification::DownloadFileListTaskSpecification(
    const QList<FileDownloadSpecification>& fileList, QNetworkAccessManager* manager, Mirrors* mirrors,
    const UpdateParameters& parameters, QObject* parent, double parentProgressRange)
    : ComposedTaskSpecification(parameters.downloadConcurrency, parentProgressRange, parent)
    , fileList(fileList)
    , networkManager(manager)
    , mirrors(mirrors)
    , parameters(parameters)
{
}

void DownloadFileListTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void DownloadFileListTaskSpecification::makeSubtasksAndStart()
{
    if (fileList.isEmpty()) {
        emit message(QStringLiteral("No downloads needed"));
        finish();
        return;
    }
    if (!fitsOnDisk() || !makeSubDirs())
        return;

    emit message(QStringLiteral("Downloading files"));
    entries = fileList;
    for (const FileDownloadSpecification& entry : std::as_const(entries))
        totalBytes += entry.bytesToFetch();
    // A file's task exists only while the file is fetched: a release of
    // 100,000 files would otherwise hold 100,000 of them for the whole stage.
    addSubTasksOnDemand(int(entries.size()));
    setRunning();
    executeSubTasks();
}

TaskSpecification* DownloadFileListTaskSpecification::makeSubTask(int index)
{
    auto* file = new DownloadFileTaskSpecification(
        entries.at(index), networkManager, mirrors, parameters, this, 1.0 / entries.size());
    file->spaceNeeded = [this] { return bytesStillNeeded(); };
    connect(file, &DownloadFileTaskSpecification::plannedBytesGrew, this,
        [this](quint64 bytes) { totalBytes += bytes; });
    filesMade = index + 1;
    return file;
}

void DownloadFileListTaskSpecification::subtasksDone()
{
    entries = {};
    ComposedTaskSpecification::subtasksDone();
}

bool DownloadFileListTaskSpecification::fitsOnDisk()
{
    // Finding out after hours of downloading that the last file has no room
    // helps nobody; what cannot fit is not started. A file system that does
    // not say how much is free is given the benefit of the doubt.
    qint64 needed = 0;
    for (const FileDownloadSpecification& entry : fileList)
        needed += static_cast<qint64>(entry.bytesOnDisk());
    const qint64 free = WriteFailure::freeSpace(parameters.tempDir);
    if (free < 0 || needed <= free)
        return true;
    emit error(WriteFailure::message(parameters.tempDir, ENOSPC, needed, free));
    errorCancel();
    return false;
}

qint64 DownloadFileListTaskSpecification::bytesStillNeeded() const
{
    // The files whose tasks have ended are on disk; those whose tasks run may
    // be; those not yet started are not.
    qint64 needed = 0;
    for (const TaskSpecification* task : allSubTasks) {
        const auto* file = static_cast<const DownloadFileTaskSpecification*>(task);
        if (file->needsSpace())
            needed += static_cast<qint64>(file->diskBytes());
    }
    for (int index = filesMade; index < entries.size(); ++index)
        needed += static_cast<qint64>(entries.at(index).bytesOnDisk());
    return needed;
}

bool DownloadFileListTaskSpecification::makeSubDirs()
{
    // Every name is looked at before the first directory is made.
    const PathGuard::Root root(parameters.tempDir);
    for (const FileDownloadSpecification& entry : fileList) {
        if (root.pathInside(entry.fileName).isEmpty()) {
            emit message(
                QStringLiteral("Refusing to download %1: its path leads outside the temporary directory")
                    .arg(entry.fileName));
            errorCancel();
            return false;
        }
    }

    const QDir dir(parameters.tempDir);
    QSet<QString> made {QStringLiteral(".")};
    for (const FileDownloadSpecification& entry : fileList) {
        const QString path = QFileInfo(entry.fileName).path();
        if (made.contains(path))
            continue;
        if (!dir.mkpath(path)) {
            emit message(
                QStringLiteral("Could not create dir %1").arg(QDir::cleanPath(dir.absoluteFilePath(path))));
            errorCancel();
            return false;
        }
        made.insert(path);
    }
    return true;
}

TransferFigures DownloadFileListTaskSpecification::timeTick()
{
    TransferFigures figures = ComposedTaskSpecification::timeTick();
    figures.total = totalBytes;
    return figures;
}

void DownloadFileListTaskSpecification::reset()
{
    clearSubTasks();
    entries.clear();
    filesMade = 0;
    totalBytes = 0;
    TaskSpecification::reset();
}
