// A composed task whose subtasks the test adds by hand.
#pragma once

#include "tasks/composedtaskspecification.h"

class TestComposite final : public ComposedTaskSpecification {
    Q_OBJECT

public:
    TestComposite(int maxParallel, double weight = 1.0, QObject* parent = nullptr)
        : ComposedTaskSpecification(maxParallel, weight, parent)
    {
    }

    void execute() override { executeSubTasks(); }

    int subtasksDoneCalls = 0;

protected:
    void subtasksDone() override
    {
        ++subtasksDoneCalls;
        ComposedTaskSpecification::subtasksDone();
    }
};
