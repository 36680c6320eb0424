// The download stage of an update.
#include "downloadfilelisttaskspecification.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include "fileops/pathguard.h"
#include "update/downloadfiletaskspecification.h"

DownloadFileListTaskSpecification::DownloadFileListTaskSpecification(
    QList<FileDownloadSpecification>* fileList, QNetworkAccessManager* manager, Mirrors* mirrors,
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
    if (fileList->isEmpty()) {
        emit message(QStringLiteral("No downloads needed"));
        finish();
        return;
    }
    if (!makeSubDirs())
        return;

    emit message(QStringLiteral("Downloading files"));
    entries = *fileList;
    for (const FileDownloadSpecification& entry : std::as_const(entries))
        totalBytes += entry.size;
    // A file's task exists only while the file is fetched: a release of
    // 100,000 files would otherwise hold 100,000 of them for the whole stage.
    addSubTasksOnDemand(int(entries.size()));
    state = Running;
    executeSubTasks();
}

TaskSpecification* DownloadFileListTaskSpecification::makeSubTask(int index)
{
    return new DownloadFileTaskSpecification(
        entries.at(index), networkManager, mirrors, parameters, this, 1.0 / entries.size());
}

bool DownloadFileListTaskSpecification::makeSubDirs()
{
    // Every name is looked at before the first directory is made.
    for (const FileDownloadSpecification& entry : std::as_const(*fileList)) {
        if (PathGuard::pathInside(parameters.tempDir, entry.fileName).isEmpty()) {
            emit message(
                QStringLiteral("Refusing to download %1: its path leads outside the temporary directory")
                    .arg(entry.fileName));
            errorCancel();
            return false;
        }
    }

    const QDir dir(parameters.tempDir);
    QSet<QString> made {QStringLiteral(".")};
    for (const FileDownloadSpecification& entry : std::as_const(*fileList)) {
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

void DownloadFileListTaskSpecification::timeTick(
    quint64& downloadDone, quint64& downloadTotal, quint64& speed, bool& downloading)
{
    ComposedTaskSpecification::timeTick(downloadDone, downloadTotal, speed, downloading);
    downloadTotal = totalBytes;
}

void DownloadFileListTaskSpecification::reset()
{
    clearSubTasks();
    entries.clear();
    totalBytes = 0;
    TaskSpecification::reset();
}
