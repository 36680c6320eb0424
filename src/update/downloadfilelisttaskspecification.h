// The download stage of an update: fetches every file of the download list
// into the temporary directory, several at once, each checked by MD5.
#pragma once

#include "tasks/composedtaskspecification.h"
#include "update/filespecifications.h"
#include "update/updateparameters.h"

class Mirrors;
class QNetworkAccessManager;

/// Creates the subdirectories of the temporary directory that the files need,
/// then runs one DownloadFileTaskSpecification per file, at most the
/// configured download concurrency at once, every file with the same weight
/// whatever its size. Files are stored exactly as the mirror delivers them
/// (packed ones stay packed).
///
/// fileList is read when the stage starts, not when it is built. A file name
/// that would lead outside the temporary directory, or a list larger than
/// the free space of the temporary directory, fails the stage before
/// anything is created or fetched. Nothing is owned. GUI thread only.
class DownloadFileListTaskSpecification final : public ComposedTaskSpecification {
    Q_OBJECT

public:
    DownloadFileListTaskSpecification(const QList<FileDownloadSpecification>& fileList,
        QNetworkAccessManager* manager, Mirrors* mirrors, const UpdateParameters& parameters, QObject* parent,
        double parentProgressRange);

    void execute() override;
    void reset() override;
    /// The composite sum, except that the total is the size of the whole list
    /// from the first tick on, not only of the downloads started so far.
    TransferFigures timeTick() override;

    void makeSubtasksAndStart();
    /// False after reporting and cancelling the stage.
    bool makeSubDirs();
    /// False after reporting and cancelling the stage.
    bool fitsOnDisk();
    /// Bytes the files not yet on disk will take.
    qint64 bytesStillNeeded() const;

protected:
    TaskSpecification* makeSubTask(int index) override;
    // Lets go of the list before the stage ends: nothing reads it any more.
    void subtasksDone() override;

private:
    const QList<FileDownloadSpecification>& fileList;
    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    UpdateParameters parameters;
    quint64 totalBytes = 0;
    // The list as the stage found it when it started.
    QList<FileDownloadSpecification> entries;
    // Entries below this index have had their task made.
    int filesMade = 0;
};
