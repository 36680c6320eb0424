// Benchmark: a composite of 50,000 leaf tasks, each reporting 100 progress
// steps, below a root as in a real update. Prints the wall time and the time
// per progress report.
//   bench_taskprogress [parallel, default 6] [steps per event-loop turn, default 100]
// With 100 steps per turn a leaf reports all its steps at once, so the figure
// is the tree's own cost per report; with 1 each report also pays for one
// queued call through the event loop (an eventfd write), as a download's
// readyRead does whatever the tree costs.
#include "testcomposite.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

namespace {

const int leafCount =
    qEnvironmentVariableIntValue("BENCH_LEAVES") ? qEnvironmentVariableIntValue("BENCH_LEAVES") : 50000;
constexpr int stepsPerLeaf = 100;
int stepsPerTurn = stepsPerLeaf;

// Reports one step per event-loop turn, like a download reporting chunks.
class SteppingLeaf final : public TaskSpecification {
public:
    SteppingLeaf(QObject* parent, double weight)
        : TaskSpecification(parent, weight)
    {
    }

    void execute() override
    {
        setRunning();
        QMetaObject::invokeMethod(
            this, [this] { step(); }, Qt::QueuedConnection);
    }

private:
    void step()
    {
        for (int i = 0; i < stepsPerTurn; ++i) {
            if (++steps == stepsPerLeaf) {
                finish(); // the hundredth report
                return;
            }
            setProgress(double(steps) / stepsPerLeaf);
        }
        QMetaObject::invokeMethod(
            this, [this] { step(); }, Qt::QueuedConnection);
    }

    int steps = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int parallel = argc > 1 ? QByteArray(argv[1]).toInt() : 6;
    if (argc > 2)
        stepsPerTurn = qBound(1, QByteArray(argv[2]).toInt(), stepsPerLeaf);

    QElapsedTimer build;
    build.start();
    TestComposite root(1, 1.0);
    auto* list = new TestComposite(parallel, 1.0, &root);
    root.addSubTask(list);
    for (int i = 0; i < leafCount; ++i)
        list->addSubTask(new SteppingLeaf(list, 1.0 / leafCount));
    const qint64 buildMs = build.elapsed();

    quint64 reports = 0;
    QObject::connect(&root, &TaskSpecification::updateProgress, &app, [&reports] { ++reports; });
    QObject::connect(&root, &TaskSpecification::finished, &app, &QCoreApplication::quit);
    QObject::connect(&root, &TaskSpecification::canceled, &app, [] { QCoreApplication::exit(1); });

    QElapsedTimer run;
    run.start();
    QTimer::singleShot(0, &root, [&root] { root.execute(); });
    const int rc = app.exec();
    const double seconds = run.nsecsElapsed() / 1e9;

    const double leafReports = double(leafCount) * stepsPerLeaf;
    std::printf("leaves: %d, reports per leaf: %d, parallel: %d, reports per event-loop turn: %d\n",
        leafCount, stepsPerLeaf, parallel, stepsPerTurn);
    std::printf("adding the subtasks: %lld ms\n", static_cast<long long>(buildMs));
    std::printf("run: %.3f s, %.0f leaf reports, %.3f us per report (starting and ending the leaves "
                "included)\n",
        seconds, leafReports, seconds * 1e6 / leafReports);
    std::printf("root progress: %.12f (reports seen at the root: %llu)\n", root.progress(),
        static_cast<unsigned long long>(reports));
    return rc;
}
