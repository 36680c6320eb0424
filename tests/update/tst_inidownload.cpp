// Fetching and verifying the product ini against the loopback mirrors:
// reuse of present copies, retries after a failed signature, the retry limit.
#include "update/inidownloadtaskspecification.h"

#include "mirrorsfixture.h"
#include "pipelinefixture.h"
#include "testfiles.h"
#include "testrelease.h"

#include <QFileInfo>
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
        // Then the patch index, which this release has not.
        const QString index = QStringLiteral("/A/42/client_linux_amd64.patches.ini");
        QTest::newRow("both present: only the patch index asked for") << true << true << QStringList {index};
        QTest::newRow("signature missing: only it is fetched") << true << false << QStringList {sig, index};
        QTest::newRow("product ini missing: only it is fetched") << false << true << QStringList {ini, index};
        QTest::newRow("both missing: both fetched in order")
            << false << false << QStringList {ini, sig, index};
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
            QStringList({"/A/42/client_linux_amd64.ini", "/A/42/client_linux_amd64.ini.sig",
                "/A/42/client_linux_amd64.patches.ini"}));
        QCOMPARE(TestFiles::read(local), release.productIni());
        QCOMPARE(fixture->finishedCount, 1);
    }

    void patchIndexIsKeptOnlyWhenTrusted_data()
    {
        QTest::addColumn<QString>(
            "mirror"); // what the mirror has: "index", "none", "unsigned", "badly signed"
        QTest::addColumn<QString>("left"); // what an interrupted run left: "", "index", "badly signed"
        QTest::addColumn<bool>("kept");
        QTest::addColumn<int>("indexRequests");
        QTest::addColumn<QString>("logged");
        const QString none =
            QStringLiteral("The release has no patch index; changed files are downloaded whole");
        const QString unsigned_ = QStringLiteral(
            "Ignoring the patch index: it has no signature; changed files are downloaded whole");
        const QString bad = QStringLiteral(
            "Ignoring the patch index: its signature does not verify; changed files are downloaded whole");
        QTest::newRow("signed index: kept") << "index"
                                            << "" << true << 1 << QString();
        QTest::newRow("no index: whole files") << "none"
                                               << "" << false << 1 << none;
        QTest::newRow("index without signature: ignored") << "unsigned"
                                                          << "" << false << 1 << unsigned_;
        QTest::newRow("index with a bad signature: ignored") << "badly signed"
                                                             << "" << false << 1 << bad;
        QTest::newRow("left by an interrupted run: checked, not fetched")
            << "index"
            << "index" << true << 0 << QString();
        QTest::newRow("left damaged: fetched again") << "index"
                                                     << "badly signed" << true << 1 << QString();
    }

    void patchIndexIsKeptOnlyWhenTrusted()
    {
        QFETCH(QString, mirror);
        QFETCH(QString, left);
        QFETCH(bool, kept);
        QFETCH(int, indexRequests);
        QFETCH(QString, logged);
        release.addFile(QStringLiteral("b.bin"), "new bravo");
        release.addPatch(41, QStringLiteral("b.bin"), "old bravo", "a patch");
        release.serve(fixture->server, QStringLiteral("A"));
        const QString indexPath = QStringLiteral("/A/42/client_linux_amd64.patches.ini");
        TestRelease other(43);
        other.addFile(QStringLiteral("b.bin"), "other");
        other.addPatch(42, QStringLiteral("b.bin"), "new bravo", "another patch");
        if (mirror == QLatin1String("none"))
            fixture->server.setAnswer(indexPath, TestHttpServer::Answer::withStatus(404));
        if (mirror == QLatin1String("unsigned"))
            fixture->server.setAnswer(indexPath + ".sig", TestHttpServer::Answer::withStatus(404));
        if (mirror == QLatin1String("badly signed"))
            fixture->server.setAnswer(
                indexPath + ".sig", TestHttpServer::Answer::ok(other.patchIndexSignature()));
        const QString localIndex =
            fixture->configuration.tempDir() + QStringLiteral("/client_linux_amd64.patches.ini");
        if (!left.isEmpty()) {
            QVERIFY(TestFiles::write(localIndex, release.patchIndex()));
            QVERIFY(TestFiles::write(localIndex + ".sig",
                left == QLatin1String("index") ? release.patchIndexSignature()
                                               : other.patchIndexSignature()));
        }

        QCOMPARE(fixture->run(makeTask()), int(TaskSpecification::Finished));
        QCOMPARE(QFileInfo::exists(localIndex), kept);
        QCOMPARE(QFileInfo::exists(localIndex + ".sig"), kept);
        if (kept)
            QCOMPARE(TestFiles::read(localIndex), release.patchIndex());
        QCOMPARE(fixture->server.requestCount(indexPath), indexRequests);
        if (!logged.isEmpty())
            QCOMPARE(fixture->count(logged), 1);
        // The mirror did nothing wrong.
        QCOMPARE(fixture->mirrors->getMirrorList().size(), 1);
        QCOMPARE(fixture->mirrors->getMirrorList().at(0).errors, 0);
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
