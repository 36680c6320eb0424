// Renames one file, never onto an existing name, and journals the rename.
#pragma once

#include "fileops/fastfileoptaskspecification.h"

class FileRenameTaskSpecification final : public FastFileOpTaskSpecification {
    Q_OBJECT
public:
    FileRenameTaskSpecification(const QString& from, const QString& to, RollbackDataList* list,
        QObject* parent, double parentProgressRange);

protected:
    bool doOp() override;

private:
    QString sourcePath;
};
