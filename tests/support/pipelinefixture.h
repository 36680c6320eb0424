// What the pipeline and engine tests need: a client directory and a
// temporary directory, mirrors on the loopback test server and the registry
// loaded from a real mirrors.ini; tasks run as the engine runs them, with a
// timer polling timeTick.
#pragma once

#include <memory>

#include <QString>
#include <QStringList>

#include "app/configuration.h"
#include "net/mirrors.h"
#include "net/updaternetworkmanager.h"
#include "taskharness.h"
#include "testhttpserver.h"

/*!
    One per test function (the registry only shrinks). start() points
    Configuration::getAppRootPath() at clientDir until the fixture is
    destroyed; configuration carries clientType, clientVersion and tempDir.
    The log also holds the registry's lines.
*/
class PipelineFixture final : public TaskHarness {
    Q_OBJECT

public:
    static constexpr int version = 42;

    PipelineFixture();
    ~PipelineFixture() override;

    // Creates the directories and the server, writes mirrors.ini naming the
    // mirrors ("/A", "/B", ... on the server) and loads the registry.
    bool start(const QStringList& mirrorNames = {QStringLiteral("A"), QStringLiteral("B")});

    QString clientDir;
    TestHttpServer server;
    UpdaterNetworkManager manager;
    std::unique_ptr<Mirrors> mirrors;
    Configuration configuration;
};
