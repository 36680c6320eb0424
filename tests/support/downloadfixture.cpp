// What every download test needs.
#include "downloadfixture.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>

#include "mirrorsfixture.h"
#include "net/downloadtaskspecification.h"
#include "testfiles.h"

bool DownloadFixture::start(const QStringList& names, const QByteArray& extraLines)
{
    if (!dir.isValid() || !server.listen())
        return false;
    manager.setProxy(QNetworkProxy::NoProxy);
    QList<MirrorsFixture::Entry> entries;
    for (const QString& name : names)
        entries.append({name, server.baseUrl() + "/" + name, extraLines});
    const QString iniPath = dir.filePath(QStringLiteral("mirrors.ini"));
    if (!TestFiles::write(iniPath, MirrorsFixture::ini(entries)))
        return false;
    connect(&mirrors, &Mirrors::message, this, &TaskHarness::logLine);
    connect(&mirrors, &Mirrors::message, this, &DownloadFixture::steerRetry);
    return mirrors.initDefault(iniPath, version) && mirrors.getMirrorList().size() == names.size();
}

QString DownloadFixture::pathOn(const QString& mirror)
{
    return QStringLiteral("/%1/%2/%3").arg(mirror).arg(version).arg(remotePath());
}

DownloadTaskSpecification* DownloadFixture::makeTask(
    qint64 expectedSize, double weight, const QString& path, const QString& remote)
{
    auto* task = new DownloadTaskSpecification(&manager, &mirrors, remote.isEmpty() ? remotePath() : remote,
        path.isEmpty() ? localPath() : path, expectedSize, this, weight);
    watch(task);
    connect(task, &TaskSpecification::message, this, &DownloadFixture::steerRetry);
    if (!mirrors.getMirrorList().isEmpty())
        MirrorsFixture::seedToPick(mirrors, mirrors.getMirrorList().constFirst().name);
    return task;
}

void DownloadFixture::steerRetry(const QString& line)
{
    // Failure lines come after the failed attempt has let go of its mirror
    // and before the next draw: the moment to steer that draw.
    if (!nextPick.isEmpty() && !line.startsWith(QLatin1String("Downloading"))) {
        MirrorsFixture::seedToPick(mirrors, nextPick);
        nextPick.clear();
    }
}

std::shared_ptr<qint64> DownloadFixture::watchNewestReply()
{
    auto received = std::make_shared<qint64>(0);
    const QList<QNetworkReply*> replies = manager.findChildren<QNetworkReply*>();
    if (!replies.isEmpty()) {
        connect(replies.constLast(), &QNetworkReply::downloadProgress, this,
            [received](qint64 bytes, qint64) { *received = bytes; });
    }
    return received;
}

const FTPSiteAccessData* DownloadFixture::record(const QString& name) const
{
    const int index = mirrors.getMirrorIndex(name);
    return index < 0 ? nullptr : &mirrors.getMirrorList().at(index);
}

bool DownloadFixture::fetchOther(const QString& path)
{
    server.setAnswer(path, TestHttpServer::Answer::ok("other"));
    QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(server.baseUrl() + path)));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    const bool done = finished.wait(10000);
    reply->deleteLater();
    return done;
}
