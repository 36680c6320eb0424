// What the stage tests share: a client directory, a temporary directory and
// a directory "outside" that no stage may touch, all in the harness's
// temporary directory, and the update parameters pointing at them.
#pragma once

#include <QStringList>

#include "taskharness.h"
#include "tasks/taskspecification.h"
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

    // Each time the stage reports progress, counts its direct children of
    // type Task that have not started yet; mostWaiting keeps the highest count.
    template<typename Task>
    void watchWaiting(TaskSpecification* stage)
    {
        QObject::connect(stage, &TaskSpecification::updateProgress, stage, [this, stage] {
            int waiting = 0;
            const auto tasks = stage->findChildren<Task*>(Qt::FindDirectChildrenOnly);
            for (const Task* task : tasks)
                waiting += task->state() == TaskSpecification::NotStarted ? 1 : 0;
            mostWaiting = qMax(mostWaiting, waiting);
        });
    }

    UpdateParameters parameters;
    int mostWaiting = 0;
};
