// Copies a downloaded file to its place in the client directory, on the
// thread pool.
#pragma once

#include "fileops/slowfileoptaskspecification.h"

class FileCopyTaskSpecification final : public SlowFileOpTaskSpecification {
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
    FileCopyFunc(const QString& source, const QString& destination, const InstallOptions& options = {});

    /// Worker thread. Writes the copy beside destination and puts it in
    /// place only once it is whole, checked and on stable storage (see
    /// InstallOptions). On any failure destination is as it was and nothing
    /// is left behind.
    bool run() override;
};
