// What the stage tests share: a client directory, a temporary directory and
// a directory "outside" that no stage may touch, all in one QTemporaryDir;
// the update parameters pointing at them; one log of the stage's lines.
#pragma once

#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include "update/updateparameters.h"

class TaskSpecification;

class StageFixture final {
public:
    StageFixture();
    ~StageFixture();
    StageFixture(const StageFixture&) = delete;
    StageFixture& operator=(const StageFixture&) = delete;

    bool isValid() const { return dir.isValid(); }
    QString clientPath(const QString& relative = {}) const;
    QString tempPath(const QString& relative = {}) const;
    QString outsidePath(const QString& relative = {}) const;

    // Writes each "path=content" entry below root.
    static void writeFiles(const QString& root, const QStringList& entries);
    // Every regular file below root as "path=content", sorted.
    static QStringList files(const QString& root);

    // Collects the task's message and error lines into log.
    void watch(TaskSpecification* task);
    // Starts the task and waits (bounded) for its one end; the final state, or
    // -1 if it did not end in time.
    int run(TaskSpecification* task, int timeoutMs = 20000);
    // Whether some log line contains text.
    bool logged(const QString& text) const;
    // Keeps the directory and prints the log; done by the destructor when
    // the test has failed.
    void keepEvidenceOfFailure();

    QTemporaryDir dir;
    UpdateParameters parameters;
    QStringList log;
};
