// What every download test needs: a loopback test server carrying the mirrors
// "A", "B", ... under paths of their own, a network manager and a registry
// loaded from a real mirrors.ini; the harness's log holds both the tasks' and
// the registry's lines.
#pragma once

#include <memory>

#include <QStringList>

#include "net/mirrors.h"
#include "net/updaternetworkmanager.h"
#include "taskharness.h"
#include "testhttpserver.h"

class DownloadTaskSpecification;

class DownloadFixture final : public TaskHarness {
    Q_OBJECT

public:
    static constexpr int version = 42;

    // Lists the mirrors in order; extraLines go into every mirror's group.
    bool start(const QStringList& names, const QByteArray& extraLines = {});

    static QString remotePath() { return QStringLiteral("data/file.bin"); }
    // The file's path on the server below the named mirror.
    static QString pathOn(const QString& mirror);
    QString urlOn(const QString& mirror) const { return server.baseUrl() + pathOn(mirror); }
    QString localPath() const { return dir.filePath(QStringLiteral("file.bin")); }

    // A task for remote (remotePath() if empty), watched; the registry will
    // pick the first mirror for its first attempt.
    DownloadTaskSpecification* makeTask(
        qint64 expectedSize, double weight = 1.0, const QString& localPath = {}, const QString& remote = {});
    // After the next failure line, the retry goes to the named mirror.
    void retryOn(const QString& mirror) { nextPick = mirror; }
    // Bytes the newest reply of the manager has received so far.
    std::shared_ptr<qint64> watchNewestReply();
    // The named mirror's record, or null when it has been removed.
    const FTPSiteAccessData* record(const QString& name) const;
    // Fetches path from the server through the shared manager and waits.
    bool fetchOther(const QString& path);

    TestHttpServer server;
    UpdaterNetworkManager manager;
    Mirrors mirrors {nullptr};

private:
    void steerRetry(const QString& line);

    QString nextPick;
};
