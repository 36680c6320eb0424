// Puts many staged files in place after one flush for all of them, on the
// thread pool, journaling each step.
#pragma once

#include <QList>
#include <QString>

#include "tasks/asynctaskspecification.h"

class RollbackDataList;

/// One staged file (at AtomicReplace::stagingPath(target)) to put in place.
struct InstallStep {
    QString target;
    /// Where target's previous content is kept; empty when target is new.
    QString old;
};

/// Makes the staged files of steps durable with one flush per file system,
/// then puts them in place in their order, each in one atomic step (the
/// previous content kept under its "_old_" name), and flushes their
/// directories once. So no name ever refers to content that a power cut
/// could still take away, and the steps cost one flush instead of two per
/// file. Each step done is journaled (in order, whatever the task's state);
/// on the first failure the remaining staged files are removed. The journal
/// is not owned and must outlive the task. GUI thread; the work runs on the
/// thread pool.
class BatchInstallTaskSpecification final : public ASyncTaskSpecification {
    Q_OBJECT

public:
    BatchInstallTaskSpecification(
        QList<InstallStep> steps, RollbackDataList& journal, QObject* parent, double parentProgressRange);

    /// How many steps, from the first, are done; valid once the task has ended.
    int placedCount() const { return placed; }

protected:
    ASyncFunc* createFunction() override;
    /// reset() waits for a worker at work and journals what it placed, or
    /// the placed files could not be undone. A batch that had not begun
    /// never begins: its files stay staged, placedCount() is 0.
    bool waitsForAbandonedRun() const override { return true; }

private:
    void onPlaced(int count);

    QList<InstallStep> steps;
    RollbackDataList& journal;
    int placed = 0;
};

class BatchInstallFunc final : public ASyncFunc {
    Q_OBJECT
public:
    explicit BatchInstallFunc(QList<InstallStep> steps);

    /// Worker thread. True when every step is done.
    bool run() override;

signals:
    /// The first count steps are done; sent once, before the result.
    void placed(int count);

private:
    bool flushStaged() const;
    void discardFrom(int first) const;
    void flushDirectories(int count) const;

    QList<InstallStep> steps;
};
