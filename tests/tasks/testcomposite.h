// A composed task whose subtasks the test adds by hand.
#pragma once

#include "fakeleaf.h"
#include "tasks/composedtaskspecification.h"

#include <QPointer>

class TestComposite final : public ComposedTaskSpecification {
    Q_OBJECT

public:
    TestComposite(int maxParallel, double weight = 1.0, QObject* parent = nullptr)
        : ComposedTaskSpecification(maxParallel, weight, parent)
    {
    }

    void execute() override { executeSubTasks(); }
    // As if a subtask had been cancelled during this run.
    void markSubTaskCanceled() { subTaskCanceled = true; }

    int subtasksDoneCalls = 0;

protected:
    void subtasksDone() override
    {
        ++subtasksDoneCalls;
        ComposedTaskSpecification::subtasksDone();
    }
};

// A composite whose leaves are made only when their turn comes; made keeps
// every leaf made, and turns null once the composite has released it.
class OnDemandComposite final : public ComposedTaskSpecification {
    Q_OBJECT

public:
    OnDemandComposite(int maxParallel, int count, bool transfers)
        : ComposedTaskSpecification(maxParallel, 1.0, nullptr)
        , count(count)
        , transfers(transfers)
    {
    }

    void execute() override
    {
        addSubTasksOnDemand(count);
        executeSubTasks();
    }

    // The leaves made and not yet released.
    QList<FakeLeaf*> alive() const
    {
        QList<FakeLeaf*> leaves;
        for (const QPointer<FakeLeaf>& leaf : made) {
            if (leaf)
                leaves.append(leaf);
        }
        return leaves;
    }

    QList<QPointer<FakeLeaf>> made;
    quint64 tickDone = 0;
    quint64 tickTotal = 0;
    quint64 tickSpeed = 0;

protected:
    TaskSpecification* makeSubTask(int) override
    {
        auto* leaf = new FakeLeaf(this, 1.0 / count, transfers);
        leaf->tickDone = tickDone;
        leaf->tickTotal = tickTotal;
        leaf->tickSpeed = tickSpeed;
        made.append(leaf);
        return leaf;
    }

private:
    const int count;
    const bool transfers;
};
