// Fetching and verifying the product ini against the loopback mirrors:
// reuse of present copies, retries after a failed signature, the retry limit.
#include "update/inidownloadtaskspecification.h"

#include "mirrorsfixture.h"
#include "pipelinefixture.h"
#include "testfiles.h"
#include "testrelease.h"

#include <QTest>

class TestIniDownload : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        if (!TestRelease::hasSigningKey())
            QSKIP("this build embeds a publisher's key; nothing here can be signed");
        fixture = std::make_unique<PipelineFixture>();
        QVERIFY(fixture->start({QStringLiteral("A")}));
        release = TestRelease();
        release.addFile(QStringLiteral("a.txt"), "alpha");
        release.serve(fixture->server, QStringLiteral("A"));
        local = fixture->configuration.tempDir() + QStringLiteral("/client_linux_amd64.ini");
    }

    // The harness keeps the directories and prints the log of a failed test.
    void cleanup() { fixture.reset(); }

    void reusesWhatIsPresent_data()
    {
        QTest::addColumn<bool>("iniPresent");
        QTest::addColumn<bool>("sigPresent");
        QTest::addColumn<QStringList>("fetched");
        const QString ini = QStringLiteral("/A/42/client_linux_amd64.ini");
        const QString sig = ini + QStringLiteral(".sig");
        QTest::newRow("both present: no traffic") << true << true << QStringList();
        QTest::newRow("signature missing: only it is fetched") << true << false << QStringList {sig};
        QTest::newRow("product ini missing: only it is fetched") << false << true << QStringList {ini};
        QTest::newRow("both missing: both fetched in order") << false << false << QStringList {ini, sig};
    }

    void reusesWhatIsPresent()
    {
        QFETCH(bool, iniPresent);
        QFETCH(bool, sigPresent);
        QFETCH(QStringList, fetched);
        if (iniPresent)
            QVERIFY(TestFiles::write(local, release.productIni()));
        if (sigPresent)
            QVERIFY(TestFiles::write(local + QStringLiteral(".sig"), release.signature()));

        QCOMPARE(fixture->run(makeTask()), int(TaskSpecification::Finished));
        QCOMPARE(fixture->server.requestedPaths(), fetched);
        QCOMPARE(fixture->log.first(), QStringLiteral("Download / check product ini"));
        QCOMPARE(TestFiles::read(local), release.productIni());
        QCOMPARE(fixture->finishedCount, 1);
        QCOMPARE(fixture->progressReports.last(), 1.0);
    }

    void staleCopiesAreFetchedAgain()
    {
        // An earlier run of another release left a pair that does not match.
        TestRelease older(41);
        older.addFile(QStringLiteral("a.txt"), "old alpha");
        QVERIFY(TestFiles::write(local, older.productIni()));
        QVERIFY(TestFiles::write(local + QStringLiteral(".sig"), release.signature()));

        QCOMPARE(fixture->run(makeTask()), int(TaskSpecification::Finished));
        QCOMPARE(fixture->count(QStringLiteral("Could not verify the product ini file. Retrying")), 1);
        QCOMPARE(fixture->server.requestedPaths(),
            QStringList({"/A/42/client_linux_amd64.ini", "/A/42/client_linux_amd64.ini.sig"}));
        QCOMPARE(TestFiles::read(local), release.productIni());
        QCOMPARE(fixture->finishedCount, 1);
    }

    void givesUpAfterTheRetryLimit()
    {
        // A mirror that serves a signature of other content: every attempt fails.
        fixture->server.setAnswer(QStringLiteral("/A/42/client_linux_amd64.ini.sig"),
            TestHttpServer::Answer::ok(TestRelease(41).signature()));

        QCOMPARE(fixture->run(makeTask(), 120000), int(TaskSpecification::ErrorCanceled));
        QCOMPARE(fixture->count(QStringLiteral("Could not verify the product ini file. Retrying")),
            IniDownloadTaskSpecification::maxRetries);
        QCOMPARE(fixture->count(QStringLiteral("Could not verify the product ini file. Aborting")), 1);
        QCOMPARE(fixture->log.last(), QStringLiteral("Could not verify the product ini file. Aborting"));
        QCOMPARE(fixture->server.requestCount(QStringLiteral("/A/42/client_linux_amd64.ini")),
            IniDownloadTaskSpecification::maxRetries + 1);
        // The stage ends once, in error, and never reports success afterwards.
        QCOMPARE(fixture->canceledCount, 1);
        QCOMPARE(fixture->finishedCount, 0);
    }

    void missingOnEveryMirrorEndsInError()
    {
        fixture->server.setAnswer(
            QStringLiteral("/A/42/client_linux_amd64.ini"), TestHttpServer::Answer::withStatus(404));
        QCOMPARE(fixture->run(makeTask()), int(TaskSpecification::ErrorCanceled));
        QCOMPARE(fixture->count(QStringLiteral("Could not verify the product ini file. Retrying")), 0);
        QCOMPARE(fixture->canceledCount, 1);
    }

    void oversizedFileIsFetchedElsewhere_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("limit");

        QTest::newRow("endless signature") << QStringLiteral("client_linux_amd64.ini.sig")
                                           << IniDownloadTaskSpecification::maxSignatureBytes;
        QTest::newRow("endless product ini")
            << QStringLiteral("client_linux_amd64.ini") << IniDownloadTaskSpecification::maxProductIniBytes;
    }

    // Neither file has a size announced in advance; a mirror that sends one
    // without end must not fill the temporary directory.
    void oversizedFileIsFetchedElsewhere()
    {
        QFETCH(QString, name);
        QFETCH(qint64, limit);

        fixture = std::make_unique<PipelineFixture>();
        QVERIFY(fixture->start({QStringLiteral("A"), QStringLiteral("B")}));
        local = fixture->configuration.tempDir() + QStringLiteral("/client_linux_amd64.ini");
        release.serve(fixture->server, QStringLiteral("A"));
        release.serve(fixture->server, QStringLiteral("B"));
        TestHttpServer::Answer endless = TestHttpServer::Answer::generated(limit + 1);
        endless.sendContentLength = false;
        fixture->server.setAnswer(QStringLiteral("/A/42/") + name, endless);
        const QString overflow =
            QStringLiteral("File %1 from mirror A is larger than the limit of %2 bytes, discarding it")
                .arg(name)
                .arg(limit);
        // Every download starts on A; the retry after the overflow goes to B.
        IniDownloadTaskSpecification* task = makeTask();
        connect(task, &TaskSpecification::message, this, [this, overflow](const QString& line) {
            if (line.startsWith(QLatin1String("Downloading ")) && !line.endsWith(QLatin1String(" finished")))
                MirrorsFixture::seedToPick(*fixture->mirrors, QStringLiteral("A"));
            if (line == overflow)
                MirrorsFixture::seedToPick(*fixture->mirrors, QStringLiteral("B"));
        });

        QCOMPARE(fixture->run(task), int(TaskSpecification::Finished));
        QCOMPARE(fixture->count(overflow), 1);
        QCOMPARE(fixture->count(QStringLiteral("Could not verify the product ini file. Retrying")), 0);
        QCOMPARE(fixture->mirrors->getMirrorList().at(0).errors, 1);
        QCOMPARE(fixture->server.requestCount(QStringLiteral("/B/42/") + name), 1);
        QCOMPARE(TestFiles::read(local), release.productIni());
    }

private:
    IniDownloadTaskSpecification* makeTask()
    {
        return new IniDownloadTaskSpecification(&fixture->manager, fixture->mirrors.get(),
            fixture->configuration.updateParameters(), fixture.get(), 1.0);
    }

    std::unique_ptr<PipelineFixture> fixture;
    TestRelease release;
    QString local;
};

QTEST_GUILESS_MAIN(TestIniDownload)
#include "tst_inidownload.moc"
