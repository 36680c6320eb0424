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

protected:
    bool doOp() override;

private:
    bool mustSucceed;
};
