// Copies a downloaded file to its place in the client directory, on the
// thread pool; never overwrites.
#pragma once

#include "fileops/slowfileoptaskspecification.h"

class FileCopyTaskSpecification final : public SlowFileOpSpecification {
    Q_OBJECT
public:
    FileCopyTaskSpecification(RollbackDataList* list, const QString& source, const QString& destination,
        QObject* parent, double parentProgressRange);

protected:
    ASyncFunc* createFunction() override;
};

class FileCopyFunc final : public SlowFileOpFunc {
    Q_OBJECT
public:
    FileCopyFunc(const QString& source, const QString& destination);

    /// Worker thread. Fails, touching nothing, if destination exists; on any
    /// other failure no destination is left behind. The copy is on stable
    /// storage before this returns true.
    bool run() override;
};
