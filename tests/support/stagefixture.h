// What the stage tests share: a client directory, a temporary directory and
// a directory "outside" that no stage may touch, all in the harness's
// temporary directory, and the update parameters pointing at them.
#pragma once

#include <QStringList>

#include "taskharness.h"
#include "update/updateparameters.h"

class StageFixture final : public TaskHarness {
    Q_OBJECT

public:
    StageFixture();

    bool isValid() const { return dir.isValid(); }
    QString clientPath(const QString& relative = {}) const;
    QString tempPath(const QString& relative = {}) const;
    QString outsidePath(const QString& relative = {}) const;

    // Writes each "path=content" entry below root.
    static void writeFiles(const QString& root, const QStringList& entries);
    // Every regular file below root as "path=content", sorted.
    static QStringList files(const QString& root);

    UpdateParameters parameters;
};
