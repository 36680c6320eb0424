// Continuing a download that a stopped run left half done: which range is
// asked for, what a mirror's answer may add to the copy, and what a mirror
// that ignores ranges, cannot satisfy them or has changed the file costs.
#include "net/downloadtaskspecification.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include "downloadfixture.h"
#include "mirrorsfixture.h"
#include "net/partialdownload.h"
#include "nginxserver.h"
#include "testfiles.h"
#include "testhttpserver.h"

Q_DECLARE_METATYPE(TestHttpServer::Answer)

namespace {

// Large enough to be worth resuming.
constexpr qint64 fileSize = 5 * 1024 * 1024;
constexpr qint64 partSize = 3 * 1024 * 1024;

QByteArray md5Of(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

TestHttpServer::Answer partialAnswer(qint64 from, qint64 total, const QByteArray& contentRange)
{
    TestHttpServer::Answer answer =
        TestHttpServer::Answer::withStatus(206, TestHttpServer::generatedBytes(from, total - from));
    answer.headers.append({"Content-Range", contentRange});
    return answer;
}

QByteArray rangeTo(qint64 from, qint64 total)
{
    return "bytes " + QByteArray::number(from) + '-' + QByteArray::number(total - 1) + '/'
        + QByteArray::number(total);
}

} // namespace

class TestDownloadResume final : public QObject {
    Q_OBJECT

private slots:
    void continuesOrStartsOver_data()
    {
        QTest::addColumn<TestHttpServer::Answer>("answer");
        QTest::addColumn<bool>("validatorSaved");
        QTest::addColumn<bool>("rangeAsked");
        QTest::addColumn<bool>("resumed");
        QTest::addColumn<int>("errorsOfA");

        QTest::newRow("a mirror that honours the range sends only the rest")
            << partialAnswer(partSize, fileSize, rangeTo(partSize, fileSize)) << true << true << true << 0;
        QTest::newRow("a mirror that ignores the range is read from the start")
            << TestHttpServer::Answer::generated(fileSize) << true << true << false << 0;
        QTest::newRow("a rest that starts elsewhere is not stitched on") << partialAnswer(partSize, fileSize,
            "bytes " + QByteArray::number(partSize - 1) + '-' + QByteArray::number(fileSize - 2) + '/'
                + QByteArray::number(fileSize)) << true << true << false << 1;
        QTest::newRow("a rest of a file of another size is not stitched on")
            << partialAnswer(partSize, fileSize + 1, rangeTo(partSize, fileSize + 1)) << true << true << false
            << 1;
        QTest::newRow("a rest without its range is not stitched on")
            << partialAnswer(partSize, fileSize, QByteArray()) << true << true << false << 1;
        QTest::newRow("a mirror that cannot satisfy the range is not blamed")
            << TestHttpServer::Answer::withStatus(416) << true << true << false << 0;
        QTest::newRow("a copy without a saved validator is fetched whole")
            << TestHttpServer::Answer::generated(fileSize) << false << false << false << 0;
    }

    void continuesOrStartsOver()
    {
        QFETCH(TestHttpServer::Answer, answer);
        QFETCH(bool, validatorSaved);
        QFETCH(bool, rangeAsked);
        QFETCH(bool, resumed);
        QFETCH(int, errorsOfA);

        DownloadFixture fixture;
        QVERIFY(fixture.start({QStringLiteral("A"), QStringLiteral("B")}));
        fixture.server.setAnswer(DownloadFixture::pathOn(QStringLiteral("A")), answer);
        fixture.server.setAnswer(
            DownloadFixture::pathOn(QStringLiteral("B")), TestHttpServer::Answer::generated(fileSize));
        // What a run killed at 3 MiB leaves behind.
        QVERIFY(TestFiles::write(fixture.localPath(), TestHttpServer::generatedBytes(0, partSize)));
        if (validatorSaved)
            QVERIFY(TestFiles::write(PartialDownload::validatorPath(fixture.localPath()), "\"v1\""));
        fixture.retryOn(QStringLiteral("B"));

        DownloadTaskSpecification* task = fixture.makeTask(fileSize);
        QCOMPARE(fixture.run(task), int(TaskSpecification::Finished));

        const QByteArray whole = TestHttpServer::generatedBytes(0, fileSize);
        QCOMPARE(md5Of(TestFiles::read(fixture.localPath())), md5Of(whole));
        QCOMPARE(task->md5Hex(), md5Of(whole));
        QCOMPARE(task->wasResumed(), resumed);
        const TestHttpServer::Request first = fixture.server.requests().constFirst();
        QCOMPARE(
            first.header("Range"), rangeAsked ? "bytes=" + QByteArray::number(partSize) + '-' : QByteArray());
        QCOMPARE(first.header("If-Range"), rangeAsked ? QByteArray("\"v1\"") : QByteArray());
        QCOMPARE(fixture.record(QStringLiteral("A"))->errors, errorsOfA);
        QVERIFY(!QFile::exists(PartialDownload::validatorPath(fixture.localPath())));
    }

    // A real web server decides by the validator whether the rest still fits.
    void nginxSendsTheRestOnlyWhileTheFileIsUnchanged_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::newRow("unchanged file: only the rest is sent") << false;
        QTest::newRow("file changed on the mirror since: the new file is fetched whole") << true;
    }

    void nginxSendsTheRestOnlyWhileTheFileIsUnchanged()
    {
        QFETCH(bool, changed);
        if (NginxServer::binary().isEmpty())
            QSKIP("nginx is not installed");

        DownloadFixture fixture;
        const QString site = fixture.dir.filePath(QStringLiteral("site"));
        const QString served =
            site + QStringLiteral("/A/%1/").arg(DownloadFixture::version) + DownloadFixture::remotePath();
        const QByteArray before = TestHttpServer::generatedBytes(0, fileSize);
        QByteArray after = before;
        after[int(fileSize - 10)] = char(after[int(fileSize - 10)] ^ 0x55);
        QVERIFY(TestFiles::write(served, before));
        NginxServer nginx;
        QVERIFY2(nginx.start(fixture.dir.filePath(QStringLiteral("nginx")), {{site}}),
            qPrintable(nginx.errorText()));
        fixture.manager.setProxy(QNetworkProxy::NoProxy);
        const QString mirrorsIni = fixture.dir.filePath(QStringLiteral("mirrors.ini"));
        QVERIFY(TestFiles::write(mirrorsIni, MirrorsFixture::ini({{"A", nginx.url(0) + "/A"}})));
        QVERIFY(fixture.mirrors.initDefault(mirrorsIni, DownloadFixture::version));

        // The first run saw the file as it was, then stopped at 3 MiB.
        {
            QNetworkReply* head = fixture.manager.head(
                QNetworkRequest(QUrl(nginx.url(0) + DownloadFixture::pathOn(QStringLiteral("A")))));
            QSignalSpy finished(head, &QNetworkReply::finished);
            QVERIFY(finished.wait(10000));
            QVERIFY(PartialDownload::saveValidator(fixture.localPath(), *head));
            head->deleteLater();
        }
        QVERIFY(TestFiles::write(fixture.localPath(), before.left(partSize)));
        if (changed) {
            QFile file(served);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.write(after) == after.size());
            // nginx's validator has a resolution of a second.
            QVERIFY(file.setFileTime(
                QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        }

        DownloadTaskSpecification* task = fixture.makeTask(fileSize);
        QCOMPARE(fixture.run(task), int(TaskSpecification::Finished));
        QCOMPARE(md5Of(TestFiles::read(fixture.localPath())), md5Of(changed ? after : before));
        QCOMPARE(task->md5Hex(), md5Of(changed ? after : before));
        QCOMPARE(task->wasResumed(), !changed);
        QTRY_COMPARE_WITH_TIMEOUT(nginx.bytesSent(0, DownloadFixture::remotePath()),
            changed ? fileSize : fileSize - partSize, 5000);
    }

    // The copy is read back on the thread pool before anything is asked of
    // a mirror; a cancel meanwhile keeps the copy for the next run and
    // drops the late digest.
    void cancelWhileTheCopyIsReadBack()
    {
        DownloadFixture fixture;
        QVERIFY(fixture.start({QStringLiteral("A")}));
        fixture.server.setAnswer(
            DownloadFixture::pathOn(QStringLiteral("A")), TestHttpServer::Answer::generated(fileSize));
        QVERIFY(TestFiles::write(fixture.localPath(), TestHttpServer::generatedBytes(0, partSize)));
        QVERIFY(TestFiles::write(PartialDownload::validatorPath(fixture.localPath()), "\"v1\""));

        DownloadTaskSpecification* task = fixture.makeTask(fileSize);
        QSignalSpy canceled(task, &TaskSpecification::canceled);
        task->execute();
        QCOMPARE(task->state(), int(TaskSpecification::Running));
        task->userCanceled();
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();

        QCOMPARE(task->state(), int(TaskSpecification::UserCanceled));
        QCOMPARE(canceled.count(), 1);
        QVERIFY(fixture.server.requests().isEmpty());
        QCOMPARE(TestFiles::read(fixture.localPath()), TestHttpServer::generatedBytes(0, partSize));
        QVERIFY(QFile::exists(PartialDownload::validatorPath(fixture.localPath())));
    }

    // The user's cancel keeps what a kill would keep: a copy the next run
    // continues by range. Anything else is fetched whole next time anyway.
    void userCancelKeepsAResumableCopy_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("validator");
        QTest::addColumn<bool>("kept");

        QTest::newRow("a large file whose answer named a validator") << fileSize << true << true;
        QTest::newRow("a file below the resumable size") << partSize << true << false;
        QTest::newRow("an answer without a validator") << fileSize << false << false;
    }

    void userCancelKeepsAResumableCopy()
    {
        QFETCH(qint64, size);
        QFETCH(bool, validator);
        QFETCH(bool, kept);
        const qint64 stallAt = 2 * 1024 * 1024;
        DownloadFixture fixture;
        QVERIFY(fixture.start({QStringLiteral("A")}));
        TestHttpServer::Answer answer = TestHttpServer::Answer::generated(size);
        answer.stallAfter = stallAt;
        if (validator)
            answer.headers.append(TestHttpServer::Header("ETag", "\"v1\""));
        const QString path = DownloadFixture::pathOn(QStringLiteral("A"));
        fixture.server.setAnswer(path, answer);

        DownloadTaskSpecification* task = fixture.makeTask(size);
        task->execute();
        QTRY_VERIFY_WITH_TIMEOUT(task->progress() >= double(stallAt) / double(size), 20000);
        task->userCanceled();
        QCOMPARE(task->state(), int(TaskSpecification::UserCanceled));
        QCOMPARE(QFile::exists(fixture.localPath()), kept);
        QCOMPARE(QFile::exists(PartialDownload::validatorPath(fixture.localPath())), kept);
        if (!kept)
            return;
        QCOMPARE(TestFiles::read(fixture.localPath()), TestHttpServer::generatedBytes(0, stallAt));

        // The next run asks for the rest only.
        fixture.server.setAnswer(path, partialAnswer(stallAt, size, rangeTo(stallAt, size)));
        fixture.server.clearRequests();
        DownloadTaskSpecification* next = fixture.makeTask(size);
        QCOMPARE(fixture.run(next), int(TaskSpecification::Finished));
        QVERIFY(next->wasResumed());
        QCOMPARE(fixture.server.requests().constFirst().header("Range"),
            "bytes=" + QByteArray::number(stallAt) + '-');
        QCOMPARE(md5Of(TestFiles::read(fixture.localPath())), md5Of(TestHttpServer::generatedBytes(0, size)));
    }
};

QTEST_GUILESS_MAIN(TestDownloadResume)
#include "tst_downloadresume.moc"
