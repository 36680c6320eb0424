// What the pipeline and engine tests need: a client directory and a
// temporary directory, mirrors on the loopback test server, the registry
// loaded from a real mirrors.ini, and a driver that runs a task tree the way
// the engine does, with a timer polling timeTick.
#pragma once

#include <memory>

#include <QNetworkAccessManager>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include "app/configuration.h"
#include "net/mirrors.h"
#include "testhttpserver.h"

class TaskSpecification;

/*!
    One per test function (the registry only shrinks). start() points
    Configuration::getAppRootPath() at clientDir until the fixture is
    destroyed; configuration carries clientType, clientVersion and tempDir.
    log collects the message and error lines of every task watched and of the
    registry, in arrival order; errors are prefixed with "error: ".
*/
class PipelineFixture final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(PipelineFixture)

public:
    static constexpr int Version = 42;

    PipelineFixture();
    ~PipelineFixture() override;

    // Creates the directories and the server, writes mirrors.ini naming the
    // mirrors ("/A", "/B", ... on the server) and loads the registry.
    bool start(const QStringList& mirrorNames = {QStringLiteral("A"), QStringLiteral("B")});

    // Logs the task's lines, executes it and calls its timeTick every
    // tickMs until it has ended; returns its final state, or -1 after
    // timeoutMs. Counts the endings, so a task ending twice shows up.
    int run(TaskSpecification* task, int timeoutMs = 30000, int tickMs = 100);
    void watch(TaskSpecification* task);
    // Lines of the log equal to line.
    int count(const QString& line) const { return int(log.count(line)); }

    // After a failed test: keeps the directories and prints the log.
    void keepEvidenceOfFailure();

    QTemporaryDir root;
    QString clientDir;
    TestHttpServer server;
    QNetworkAccessManager manager;
    std::unique_ptr<Mirrors> mirrors;
    Configuration configuration;
    QStringList log;

    // What the driver saw: endings of the task and the last figures of timeTick.
    int finishedCount = 0;
    int canceledCount = 0;
    quint64 lastDone = 0;
    quint64 lastTotal = 0;
    QList<qreal> progressReports;
};
