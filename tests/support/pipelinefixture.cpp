// Shared set-up of the pipeline and engine tests.
#include "pipelinefixture.h"

#include <QDir>
#include <QNetworkProxy>

#include "testrelease.h"

PipelineFixture::PipelineFixture()
{
    // Sixteen silent ticks end a transfer; a fast tick lets a stalled one
    // move on within a test's patience.
    tickIntervalMs = 100;
}

PipelineFixture::~PipelineFixture()
{
    Configuration::setAppRootPathOverride(QString());
}

bool PipelineFixture::start(const QStringList& mirrorNames)
{
    if (!dir.isValid() || !server.listen())
        return false;
    clientDir = dir.filePath(QStringLiteral("client"));
    const QString tempDir = dir.filePath(QStringLiteral("corvane_temp_1"));
    if (!QDir().mkpath(clientDir) || !QDir().mkpath(tempDir) || !configuration.initializeStart(tempDir))
        return false;
    Configuration::setAppRootPathOverride(clientDir);
    configuration.setClientType(Configuration::getUpdateType());
    configuration.setClientVersion(version);
    // No "update.ini" in the client directory: six streams, no proxy.
    configuration.getProxyAndDownloadConcurrency();
    manager.setProxy(QNetworkProxy::NoProxy);

    const QString iniPath = clientDir + QStringLiteral("/mirrors.ini");
    if (!TestRelease::writeMirrorsIni(iniPath, server, mirrorNames))
        return false;
    mirrors = std::make_unique<Mirrors>(nullptr);
    connect(mirrors.get(), &Mirrors::message, this, &TaskHarness::logLine);
    return mirrors->initDefault(iniPath, version) && mirrors->getMirrorList().size() == mirrorNames.size();
}
