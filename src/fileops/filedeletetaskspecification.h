// Deletes one file. Deletions are never journaled, so they are not undone.
#pragma once

#include "fileops/fastfileoptaskspecification.h"

class FileDeleteTaskSpecification final : public FastFileOpTaskSpecification {
    Q_OBJECT
public:
    /// mustSucceed false: a file that cannot be removed is passed over, with
    /// "Could not delete %1: %2" as a message unless it is gone already.
    FileDeleteTaskSpecification(
        bool mustSucceed, const QString& filePath, QObject* parent, double parentProgressRange);

    /// Before execute(): a directory at the path goes too, with everything
    /// below it; links are removed, never followed, and nothing on another
    /// file system is touched. Without it a directory is not deleted.
    void setRemovesDirectory(bool removes) { removesDirectory = removes; }

protected:
    bool doOp() override;

private:
    bool mustSucceed;
    bool removesDirectory = false;
};
