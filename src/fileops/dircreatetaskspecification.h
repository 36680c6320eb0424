// Creates a directory and any missing parents, journaling each one it creates.
#pragma once

#include "fileops/fastfileoptaskspecification.h"

class DirCreateTaskSpecification final : public FastFileOpTaskSpecification {
    Q_OBJECT
public:
    DirCreateTaskSpecification(
        const QString& dirPath, RollbackDataList* list, QObject* parent, double parentProgressRange);

protected:
    bool doOp() override;

private:
    bool tryCreateDir(const QString& dir);
};
