// Leaf tasks for the framework tests: the test decides when and how they end.
#pragma once

#include "tasks/taskspecification.h"

// A leaf that runs until the test ends it. As a transfer it aborts on a user
// cancel and on a sibling's cancellation, like a download; otherwise it is
// never interrupted, like a file operation.
class FakeLeaf final : public TaskSpecification {
    Q_OBJECT

public:
    FakeLeaf(QObject* parent, double weight, bool transfer = false)
        : TaskSpecification(parent, weight)
        , transfer(transfer)
    {
    }

    void execute() override
    {
        ++executions;
        setRunning();
    }

    void userCanceled() override
    {
        TaskSpecification::userCanceled();
        if (transfer && state() == Running)
            userCancel();
    }

    void handleOtherTaskCancelled(TaskSpecification*) override
    {
        ++noticesReceived;
        if (transfer)
            errorCancel();
    }

    TransferFigures timeTick() override { return {tickDone, tickTotal, tickSpeed, tickDownloading}; }

    void end() { finish(); }
    void fail() { errorCancel(); }
    void abort() { userCancel(); }

    const bool transfer;
    int executions = 0;
    int noticesReceived = 0;
    quint64 tickDone = 0;
    quint64 tickTotal = 0;
    quint64 tickSpeed = 0;
    bool tickDownloading = false;
};
