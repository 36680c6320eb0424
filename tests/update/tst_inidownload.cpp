// Fetching and verifying the product ini against the loopback mirrors:
// reuse of a kept copy while it matches the mirror's signature, retries after
// a failed signature, their pauses, and when they stop.
#include "update/inidownloadtaskspecification.h"
#include "update/signaturedownloadtaskspecification.h"

#include "mirrorsfixture.h"
#include "pipelinefixture.h"
#include "testfiles.h"
#include "testrelease.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

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
        QTest::addColumn<QStringList>("present"); // suffixes of the product ini's name in the temporary dir
        QTest::addColumn<bool>("stale"); // what is present is of version 42 as first published
        QTest::addColumn<bool>("mirrorHasSig256");
        QTest::addColumn<QStringList>("fetched");
        const QString ini = QStringLiteral("/A/42/client_linux_amd64.ini");
        const QString sig = ini + QStringLiteral(".sig");
        const QString sig256 = ini + QStringLiteral(".sig256");
        const QStringList both {QString(), QStringLiteral(".sig")};
        // The signature always comes fresh: it says whether the kept copy is
        // still the mirror's. The .sig256 is asked for first. Then the patch
        // index, which this release has not.
        const QString index = QStringLiteral("/A/42/client_linux_amd64.patches.ini");
        QTest::newRow("both present: only the signature is fetched")
            << both << false << false << QStringList {sig256, sig, index};
        QTest::newRow("signature missing: only it is fetched")
            << QStringList {QString()} << false << false << QStringList {sig256, sig, index};
        QTest::newRow("product ini missing: all fetched in order") << QStringList {
            QStringLiteral(".sig")} << false << false << QStringList {ini, sig256, sig, index};
        QTest::newRow("a mirror with a .sig256: the .sig is never fetched")
            << QStringList() << false << true << QStringList {ini, sig256, index};
        QTest::newRow("a kept .sig present, the mirror has a .sig256: it is fetched and counts")
            << both << false << true << QStringList {sig256, index};
        QTest::newRow("a kept .sig256 the mirror no longer has is dropped, the .sig counts") << QStringList {
            QString(), QStringLiteral(".sig256")} << false << false << QStringList {sig256, sig, index};
        // The publisher has published 42 again since an earlier run kept it:
        // replaced without a failed check.
        QTest::newRow("a release published again replaces the kept copy")
            << both << true << false << QStringList {sig256, sig, ini, sig256, sig, index};
    }

    void reusesWhatIsPresent()
    {
        QFETCH(QStringList, present);
        QFETCH(bool, stale);
        QFETCH(bool, mirrorHasSig256);
        QFETCH(QStringList, fetched);
        release.setSha256Signature(mirrorHasSig256);
        release.serve(fixture->server, QStringLiteral("A"));
        TestRelease first;
        first.addFile(QStringLiteral("a.txt"), "first alpha");
        const TestRelease& kept = stale ? first : release;
        for (const QString& suffix : present) {
            const QByteArray content = suffix.isEmpty() ? kept.productIni()
                : suffix == QLatin1String(".sig")       ? kept.signature()
                                                        : kept.signature256();
            QVERIFY(TestFiles::write(local + suffix, content));
        }

        QCOMPARE(fixture->run(makeTask()), int(TaskSpecification::Finished));
        QCOMPARE(fixture->server.requestedPaths(), fetched);
        QCOMPARE(fixture->log.first(), QStringLiteral("Download / check product ini"));
        QCOMPARE(fixture->count(QStringLiteral("The product ini kept from an earlier run does not match the "
                                               "mirror's signature; fetching it again")),
            stale ? 1 : 0);
        QCOMPARE(fixture->count(QStringLiteral("Could not verify the product ini file. Retrying")), 0);
        QCOMPARE(TestFiles::read(local), release.productIni());
        QCOMPARE(QFileInfo::exists(local + QStringLiteral(".sig256")), mirrorHasSig256);
        QCOMPARE(fixture->finishedCount, 1);
        QCOMPARE(fixture->progressReports.last(), 1.0);
        QCOMPARE(fixture->mirrors->getMirrorList().at(0).errors, 0);
    }

    void boundToTheStatementsDigest_data()
    {
        QTest::addColumn<bool>("named"); // the statement names this product ini
        QTest::newRow("the product ini the statement names") << true;
        // Validly signed, but another release's: version 41's served as 42's.
        QTest::newRow("another release's product ini") << false;
    }

    void boundToTheStatementsDigest()
    {
        QFETCH(bool, named);
        TestRelease older(41);
        older.addFile(QStringLiteral("a.txt"), "old alpha");
        const QByteArray named42 = QCryptographicHash::hash(release.productIni(), QCryptographicHash::Sha256);
        if (!named) {
            fixture->server.setAnswer(QStringLiteral("/A/42/client_linux_amd64.ini"),
                TestHttpServer::Answer::ok(older.productIni()));
            fixture->server.setAnswer(QStringLiteral("/A/42/client_linux_amd64.ini.sig"),
                TestHttpServer::Answer::ok(older.signature()));
        }
        UpdateParameters parameters = fixture->configuration.updateParameters();
        parameters.productIniSha256 = named42;
        auto* task = new IniDownloadTaskSpecification(
            &fixture->manager, fixture->mirrors.get(), parameters, fixture.get(), 1.0);
        cancelOnFirstRetry(task);

        QCOMPARE(
            fixture->run(task), int(named ? TaskSpecification::Finished : TaskSpecification::UserCanceled));
        QCOMPARE(fixture->count(QStringLiteral(
                     "The product ini of version 42 is not the one its release statement names")),
            named ? 0 : 1);
    }

    void patchIndexIsKeptOnlyWhenTrusted_data()
    {
        QTest::addColumn<QString>(
            "mirror"); // what the mirror has: "index", "none", "unsigned", "badly signed"
        QTest::addColumn<QString>("left"); // what an interrupted run left: "", "stale index"
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
        // Signed and sound, but of a release published again since.
        QTest::newRow("left by an interrupted run: fetched fresh all the same")
            << "index"
            << "stale index" << true << 1 << QString();
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
            QVERIFY(TestFiles::write(localIndex, other.patchIndex()));
            QVERIFY(TestFiles::write(localIndex + ".sig", other.patchIndexSignature()));
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

    void retriesStop_data()
    {
        QTest::addColumn<QString>("signature"); // the signature file the mirror has
        QTest::addColumn<bool>("freshSignatures"); // every request gets another bad signature
        QTest::addColumn<int>("iniRequests");
        QTest::addColumn<QString>("lastLine");

        const QString samePair =
            QStringLiteral("Could not verify the product ini file: the mirrors send the "
                           "same product ini and signature that failed before. Aborting");
        QTest::newRow("the same bad pair again: nothing can change") << ".sig" << false << 2 << samePair;
        QTest::newRow("the same bad .sig256 again") << ".sig256" << false << 2 << samePair;
        QTest::newRow("a new bad signature each time: up to the retry limit")
            << ".sig" << true << IniDownloadTaskSpecification::maxRetries + 1
            << "Could not verify the product ini file. Aborting";
    }

    void retriesStop()
    {
        QFETCH(QString, signature);
        QFETCH(bool, freshSignatures);
        QFETCH(int, iniRequests);
        QFETCH(QString, lastLine);
        release.setSha256Signature(signature == QLatin1String(".sig256"));
        release.serve(fixture->server, QStringLiteral("A"));
        const QString sig = QStringLiteral("/A/42/client_linux_amd64.ini") + signature;
        const auto badSignature = [] {
            QByteArray bytes(384, Qt::Uninitialized);
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
            return bytes;
        };
        fixture->server.setAnswer(sig, TestHttpServer::Answer::ok(badSignature()));
        if (freshSignatures) {
            connect(&fixture->server, &TestHttpServer::requestReceived, this, [&](const QString& path) {
                if (path == sig)
                    fixture->server.setAnswer(sig, TestHttpServer::Answer::ok(badSignature()));
            });
        }
        IniDownloadTaskSpecification* task = makeTask();
        task->setRetryPauses(0, 0);

        QCOMPARE(fixture->run(task, 120000), int(TaskSpecification::ErrorCanceled));
        QCOMPARE(fixture->count(QStringLiteral("Could not verify the product ini file. Retrying")),
            iniRequests - 1);
        QCOMPARE(fixture->log.last(), lastLine);
        QCOMPARE(fixture->server.requestCount(QStringLiteral("/A/42/client_linux_amd64.ini")), iniRequests);
        // The stage ends once, in error, and never reports success afterwards.
        QCOMPARE(fixture->canceledCount, 1);
        QCOMPARE(fixture->finishedCount, 0);
    }

    void pausesGrowToHalfAMinute_data()
    {
        QTest::addColumn<int>("failedPairs");
        QTest::addColumn<int>("pauseMs");

        QTest::newRow("after the first failure") << 1 << 1000;
        QTest::newRow("doubling") << 2 << 2000;
        QTest::newRow("the fifth") << 5 << 16000;
        QTest::newRow("capped at 30 s") << 6 << 30000;
        QTest::newRow("and there it stays") << 1000 << 30000;
    }

    void pausesGrowToHalfAMinute()
    {
        QFETCH(int, failedPairs);
        QTEST(IniDownloadTaskSpecification::retryPauseMs(failedPairs), "pauseMs");
    }

    void cancelDuringAPauseEndsAtOnce()
    {
        fixture->server.setAnswer(QStringLiteral("/A/42/client_linux_amd64.ini.sig"),
            TestHttpServer::Answer::ok(TestRelease(41).signature()));
        IniDownloadTaskSpecification* task = makeTask();
        // Far longer than the bound of the run: only the cancel can end it.
        task->setRetryPauses(600000, 600000);
        connect(task, &TaskSpecification::message, this, [task](const QString& line) {
            if (line == QLatin1String("Could not verify the product ini file. Retrying"))
                QTimer::singleShot(0, task, [task] { task->userCanceled(); });
        });

        QCOMPARE(fixture->run(task), int(TaskSpecification::UserCanceled));
        QCOMPARE(fixture->server.requestCount(QStringLiteral("/A/42/client_linux_amd64.ini")), 1);
        QCOMPARE(fixture->canceledCount, 1);
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
                                           << SignatureDownloadTaskSpecification::maxSignatureBytes;
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
    // One refusal shows what a test needs; the retry that follows is cancelled.
    void cancelOnFirstRetry(IniDownloadTaskSpecification* task)
    {
        connect(task, &TaskSpecification::message, this, [task](const QString& line) {
            if (line == QLatin1String("Could not verify the product ini file. Retrying"))
                QMetaObject::invokeMethod(task, &TaskSpecification::userCanceled, Qt::QueuedConnection);
        });
    }

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
