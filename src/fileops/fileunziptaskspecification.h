// Unpacks a gzip-compressed download to its place in the client directory,
// on the thread pool; a file without a gzip header is copied as it is.
#pragma once

#include "fileops/slowfileoptaskspecification.h"

class FileUnzipTaskSpecification final : public SlowFileOpTaskSpecification {
    Q_OBJECT
public:
    FileUnzipTaskSpecification(RollbackDataList* list, const QString& source, const QString& destination,
        QObject* parent, double parentProgressRange);

protected:
    ASyncFunc* createFunction() override;
};

class FileUnzipFunc final : public SlowFileOpFunc {
    Q_OBJECT
public:
    FileUnzipFunc(const QString& source, const QString& destination, const InstallOptions& options = {});

    /// Worker thread. Same guarantees as the copy; the digest is that of the
    /// unpacked bytes.
    bool run() override;
    /// Streams source through one fixed buffer; memory use does not grow with
    /// the file. Note the order: output first.
    bool unzipFile(const QString& destination, const QString& source);
};
