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
    const double weight = 1.0 / fileList->size();
    for (const FileDownloadSpecification& entry : std::as_const(*fileList)) {
        addSubTask(
            new DownloadFileTaskSpecification(entry, networkManager, mirrors, parameters, this, weight));
        totalBytes += entry.size;
    }
    state = Running;
    executeSubTasks();
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
    totalBytes = 0;
    TaskSpecification::reset();
}
