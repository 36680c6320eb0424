// Installs one downloaded file into the client directory: the new version is
// copied or unpacked beside it, checked, and put in its place in one step
// while the installed version stays under its "_old_" name; every change is
// journaled for undo.
#pragma once

#include "fileops/pathguard.h"
#include "fileops/rollback.h"
#include "tasks/composedtaskspecification.h"
#include "update/filespecifications.h"

#include <QStringList>

/// A file whose new content waits, checked, beside its target (under its
/// staging name) for the installation list to put it in place together with
/// other files.
struct StagedReplacement {
    FileReplaceSpecification entry;
    /// The installed file's path, checked to lie in the client directory.
    QString target;
    /// Where the installed file's content is to be kept; empty when nothing
    /// is installed at target.
    QString old;
};

/// Runs, one after the other: deleting a leftover "_old_" copy (only when
/// the file is installed already), then copying the download or unpacking
/// it. The copy or unpack writes beside the target under its staging name
/// and refuses content whose MD5 differs from the record's; an unpack stops
/// as soon as it passes the listed unpacked size. Executables and
/// libraries get mode 0755 less the umask; any other file that is replaced
/// keeps its permission bits.
///
/// On success the file's journal is handed to listJournal and the file is
/// appended to staged, its content left unflushed under the staging name:
/// putting it in place (keeping the installed version under its "_old_"
/// name), journaling that and naming the "_old_" copy for deletion are the
/// caller's. On failure or cancel the file's own changes are undone at once.
/// Paths that would lead outside the client or temporary directory, judged
/// by the caller's roots, are refused before anything is touched. Nothing is
/// owned but the file's journal. GUI thread only.
class FileReplaceTaskSpecification final : public ComposedTaskSpecification {
    Q_OBJECT

public:
    FileReplaceTaskSpecification(const FileReplaceSpecification& entry, QList<StagedReplacement>& staged,
        RollbackDataList& listJournal, const PathGuard::Root& clientDir, const PathGuard::Root& tempDir,
        QObject* parent, double parentProgressRange);

    void execute() override;
    void reset() override;

    void makeSubtasksAndStart();
    /// Puts the "_old_" name of a replaced file on deleteList, unless it is
    /// one of the updater's own.
    static void listOldCopy(const FileReplaceSpecification& entry, QList<QString>& deleteList);
    /// Whether the file at path is a program or library by its name.
    static bool isExecutable(const QString& path);

    /// The download in the temporary directory, the installed file and its
    /// "_old_" name; false when any of them would lie outside its directory.
    static bool installPaths(const FileReplaceSpecification& entry, const PathGuard::Root& clientDir,
        const PathGuard::Root& tempDir, QString& source, QString& target, QString& old);

    static const QStringList executableFiles;
    static const QStringList executableSuffixes;

protected:
    void subtasksDone() override;

private:
    FileReplaceSpecification replaceSpec;
    QList<StagedReplacement>& stagedList;
    RollbackDataList& listJournal;
    RollbackDataList journal;
    const PathGuard::Root& clientRoot;
    const PathGuard::Root& tempRoot;
    QString stagedTarget;
    // Where the installed content is to be kept; empty for a new file.
    QString stagedOld;
};
