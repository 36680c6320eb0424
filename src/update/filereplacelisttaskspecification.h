// The installation phase of an update: creates missing directories, installs
// every downloaded file, and undoes everything it changed if it does not
// complete.
#pragma once

#include <optional>

#include "fileops/rollback.h"
#include "tasks/composedtaskspecification.h"
#include "update/filereplacetaskspecification.h"
#include "update/filespecifications.h"
#include "update/updateparameters.h"

class BatchInstallTaskSpecification;

/// Directory tasks first, then one FileReplaceTaskSpecification per entry of
/// replaceList, two files at a time. Every change lands in the phase's
/// journal; when the phase ends other than finished (a file failed, or the
/// user cancelled before every file was in place) the journal is undone,
/// newest change first, so the client directory is as it was before the
/// phase, created directories included. Deletions of leftover "_old_" copies
/// are the one change not undone.
///
/// Each file task only stages its file (see FileReplaceTaskSpecification::
/// leavePlacingTo); batches of staged files are put in place by a
/// BatchInstallTaskSpecification, while the next files are staged, so that a
/// release of thousands of files costs a few flushes instead of two per file.
/// The phase ends once the last batch is in place.
///
/// A replace list naming a path outside the client or temporary directory
/// fails the phase before anything is touched. The lists are not owned and
/// are read when the phase starts; "_old_" names are appended to deleteList.
/// GUI thread only.
class FileReplaceListTaskSpecification final : public ComposedTaskSpecification {
    Q_OBJECT

public:
    FileReplaceListTaskSpecification(const QList<FileReplaceSpecification>& replaceList,
        QList<QString>& deleteList, const UpdateParameters& parameters, QObject* parent,
        double parentProgressRange);

    void execute() override;
    /// Also undoes whatever the last run left in the journal.
    void reset() override;

    void makeSubtasksAndStart();
    /// Returns the number of directory tasks added.
    int makeSubdirTasks();
    void makeFileReplaceTasks(bool hasDirectoryTasks);

    /// Staged files put in place at once at most. Larger batches mean fewer
    /// flushes; the bound keeps the paths of a batch small in memory.
    int placingBatchFiles = 2000;

protected:
    void subtasksDone() override;
    TaskSpecification* makeSubTask(int index) override;

private:
    const QList<FileReplaceSpecification>& replaceList;
    QList<QString>& deleteList;
    RollbackDataList journal;
    UpdateParameters parameters;
    // The two directories every path of the phase is judged by.
    std::optional<PathGuard::Root> clientRoot;
    std::optional<PathGuard::Root> tempRoot;

    // Puts the files staged so far in place, while more are staged.
    void startPlacing();
    void onPlacingEnded();
    // Removes the staged files that were never put in place.
    void discardStaged();

    // The list as the phase found it when it started, and each file's share.
    QList<FileReplaceSpecification> entries;
    double fileShare = 0;

    QList<StagedReplacement> staged;
    // The batch being put in place, at most one at a time.
    BatchInstallTaskSpecification* placing = nullptr;
    QList<StagedReplacement> beingPlaced;
    bool placingFailed = false;
    // Every file task has ended; the phase ends with the running batch.
    bool endAfterPlacing = false;
};
