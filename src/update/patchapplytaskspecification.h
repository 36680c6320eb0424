// Applies a downloaded binary patch to the installed file on the thread pool
// and leaves the result where the whole file's download would have been.
#pragma once

#include "tasks/asynctaskspecification.h"
#include "update/filespecifications.h"

#include <memory>

/// Reads the installed file at basePath and the patch at patchPath through
/// memory maps and writes what the patch gives, checked against the MD5 and
/// size the signed product ini lists, to localPath: the file itself, or for a
/// packed file its content gzip-packed (stored, not compressed), so that the
/// installation finds the copy it expects either way. The patch file is
/// removed afterwards; nothing is left at localPath on failure.
///
/// Announces the outcome through applied() and then always finishes, so that
/// the creator can fall back to the whole file. GUI thread; the work runs on
/// the global thread pool with copies of its inputs.
class PatchApplyTaskSpecification final : public ASyncTaskSpecification {
    Q_OBJECT

public:
    PatchApplyTaskSpecification(const QString& basePath, const QString& patchPath, const QString& localPath,
        const FilePatchSpecification& patch, QObject* parent, double parentProgressRange);

signals:
    /// Right before the task finishes; why says what went wrong when !ok.
    void applied(bool ok, QString why);

protected:
    ASyncFunc* createFunction() override;
    void runDone(bool ok) override;
    /// The worker writes at localPath, where the whole file may be fetched next.
    bool waitsForAbandonedRun() const override { return true; }

private:
    QString basePath;
    QString patchPath;
    QString localPath;
    FilePatchSpecification patch;
    // Written by the worker before its result is sent, read after it arrives.
    std::shared_ptr<QString> failure;
};

class PatchApplyFunc final : public ASyncFunc {
    Q_OBJECT

public:
    PatchApplyFunc(const QString& basePath, const QString& patchPath, const QString& localPath,
        const FilePatchSpecification& patch, std::shared_ptr<QString> failure);

    /// Worker thread.
    bool run() override;

private:
    bool fail(const QString& why);
    // source gzip-packed at level 0 to target.
    bool storePacked(const QString& source, const QString& target);

    QString basePath;
    QString patchPath;
    QString localPath;
    FilePatchSpecification patch;
    std::shared_ptr<QString> failure;
};
