// Shared set-up of the pipeline and engine tests.
#include "pipelinefixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QNetworkProxy>
#include <QTest>
#include <QTimer>

#include "tasks/taskspecification.h"
#include "testrelease.h"

PipelineFixture::PipelineFixture() = default;

PipelineFixture::~PipelineFixture()
{
    Configuration::setAppRootPathOverride(QString());
}

bool PipelineFixture::start(const QStringList& mirrorNames)
{
    if (!root.isValid() || !server.listen())
        return false;
    clientDir = root.filePath(QStringLiteral("client"));
    configuration.tempDir = root.filePath(QStringLiteral("corvane_temp_1"));
    if (!QDir().mkpath(clientDir) || !QDir().mkpath(configuration.tempDir))
        return false;
    Configuration::setAppRootPathOverride(clientDir);
    configuration.clientType = Configuration::getUpdateType();
    configuration.clientVersion = Version;
    configuration.downloadConcurrency = 6;
    manager.setProxy(QNetworkProxy::NoProxy);

    const QString iniPath = clientDir + QStringLiteral("/mirrors.ini");
    if (!TestRelease::writeMirrorsIni(iniPath, server, mirrorNames))
        return false;
    mirrors = std::make_unique<Mirrors>(nullptr);
    connect(mirrors.get(), &Mirrors::message, this, [this](const QString& line) { log.append(line); });
    return mirrors->initDefault(iniPath, Version) && mirrors->getMirrorList().size() == mirrorNames.size();
}

void PipelineFixture::watch(TaskSpecification* task)
{
    connect(task, &TaskSpecification::message, this, [this](const QString& line) { log.append(line); });
    connect(task, &TaskSpecification::error, this,
        [this](const QString& line) { log.append(QStringLiteral("error: ") + line); });
    connect(task, &TaskSpecification::updateProgress, this, [this](qreal p) { progressReports.append(p); });
    connect(task, &TaskSpecification::finished, this, [this] { ++finishedCount; });
    connect(task, &TaskSpecification::canceled, this, [this] { ++canceledCount; });
}

int PipelineFixture::run(TaskSpecification* task, int timeoutMs, int tickMs)
{
    watch(task);
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, task, [this, task] {
        quint64 done = 0;
        quint64 total = 0;
        quint64 speed = 0;
        bool downloading = false;
        task->timeTick(done, total, speed, downloading);
        lastDone = done;
        lastTotal = total;
    });
    ticker.start(tickMs);

    // A bounded event loop rather than QTest::qWaitFor, which naps 10 ms
    // whenever the queue runs dry and so adds that to every network round.
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(task, &TaskSpecification::finished, &loop, &QEventLoop::quit);
    connect(task, &TaskSpecification::canceled, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    task->execute();
    if (finishedCount + canceledCount == 0)
        loop.exec();
    if (finishedCount + canceledCount == 0)
        return -1;
    // Deliver what was queued behind the ending, so a second ending shows.
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    return task->state;
}

void PipelineFixture::keepEvidenceOfFailure()
{
    if (!QTest::currentTestFailed())
        return;
    root.setAutoRemove(false);
    qWarning().noquote() << "kept" << root.path() << "\nlog:\n" << log.join(QLatin1Char('\n'));
}
