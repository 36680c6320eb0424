// What every download test needs: a loopback test server carrying the mirrors
// "A", "B", ... under paths of their own, a network manager, a registry loaded
// from a real mirrors.ini, a temporary directory and one log of both the
// task's and the registry's lines.
#pragma once

#include <memory>

#include <QNetworkAccessManager>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include "net/mirrors.h"
#include "testhttpserver.h"

class DownloadTaskSpecification;

class DownloadFixture final : public QObject {
    Q_OBJECT

public:
    static constexpr int Version = 42;

    // Lists the mirrors in order; extraLines go into every mirror's group.
    bool start(const QStringList& names, const QByteArray& extraLines = {});

    static QString remotePath() { return QStringLiteral("data/file.bin"); }
    // The file's path on the server below the named mirror.
    static QString pathOn(const QString& mirror);
    QString urlOn(const QString& mirror) const { return server.baseUrl() + pathOn(mirror); }
    QString localPath() const { return dir.filePath(QStringLiteral("file.bin")); }

    // A task for remote (remotePath() if empty), its lines logged; the
    // registry will pick the first mirror for its first attempt.
    DownloadTaskSpecification* makeTask(
        qint64 expectedSize, double weight = 1.0, const QString& localPath = {}, const QString& remote = {});
    // After the next failure line, the retry goes to the named mirror.
    void retryOn(const QString& mirror) { nextPick = mirror; }
    // Bytes the newest reply of the manager has received so far.
    std::shared_ptr<qint64> watchNewestReply();
    // The named mirror's record, or null when it has been removed.
    const FTPSiteAccessData* record(const QString& name) const;
    // After a failed test: keeps the directory and prints the log.
    void keepEvidenceOfFailure();
    // Fetches path from the server through the shared manager and waits.
    bool fetchOther(const QString& path);

    TestHttpServer server;
    QNetworkAccessManager manager;
    Mirrors mirrors {nullptr};
    QTemporaryDir dir;
    QStringList log;

private:
    void onLine(const QString& line);

    QString nextPick;
};
