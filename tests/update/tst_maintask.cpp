// Whole updates on real files: the main task runs every stage against a
// client directory, a temporary directory and two loopback mirrors, driven
// by a timer that polls timeTick as the engine does.
#include "update/maintaskspecification.h"

#include "pipelinefixture.h"
#include "release/deltapatch.h"
#include "testfiles.h"
#include "testrelease.h"

#include <QDirIterator>
#include <QFile>
#include <QTest>

namespace {

const QString mirrorA = QStringLiteral("A");
const QString mirrorB = QStringLiteral("B");
const QByteArray readmeText = QByteArray("Read me: this text is packed on the mirror.\n").repeated(20);

// Relative path -> content of every file below root, and "<dir>" for
// directories; permission bits are left out (see modeOf).
QMap<QString, QByteArray> contentsOf(const QString& root)
{
    QMap<QString, QByteArray> entries;
    const QDir base(root);
    QDirIterator it(
        root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        entries.insert(
            base.relativeFilePath(path), QFileInfo(path).isDir() ? "<dir>" : TestFiles::read(path));
    }
    return entries;
}

// The same number of bytes with one of them changed: only the digest can tell.
QByteArray damaged(QByteArray data)
{
    data[0] = char(data[0] ^ 0x20);
    return data;
}

// Runnable by everyone, changeable by its owner alone.
bool hasProgramMode(const QString& path)
{
    const QFile::Permissions runnable = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    const QFile::Permissions writableByOthers = QFile::WriteGroup | QFile::WriteOther;
    const QFile::Permissions mode = QFile::permissions(path);
    return (mode & runnable) == runnable && !(mode & writableByOthers);
}

// The patch that turns base into target, as the publisher makes it.
QByteArray makePatch(const QByteArray& base, const QByteArray& target)
{
    QTemporaryDir dir;
    QByteArray md5;
    quint64 size = 0;
    QString error;
    if (!TestFiles::write(dir.filePath("base"), base) || !TestFiles::write(dir.filePath("target"), target)
        || !DeltaPatch::make(
            dir.filePath("base"), dir.filePath("target"), dir.filePath("patch"), {}, &md5, &size, &error))
        return {};
    return TestFiles::read(dir.filePath("patch"));
}

// Bytes of every answer the server gave in full: what an update transferred.
quint64 bytesServed(const TestHttpServer& server)
{
    quint64 bytes = 0;
    for (const QString& path : server.requestedPaths()) {
        const TestHttpServer::Answer answer = server.answerFor(path);
        if (answer.status == 200)
            bytes += quint64(answer.bodySize());
    }
    return bytes;
}

// The release every scenario installs unless it says otherwise.
TestRelease makeRelease(const QByteArray& aContent = "alpha version 2\n")
{
    TestRelease release;
    release.addFile(QStringLiteral("a.txt"), aContent);
    release.addFile(QStringLiteral("lib/libx.so"), "shared object\n");
    release.addFile(QStringLiteral("bin/davuzodur_linux_amd64"), "client binary\n");
    release.addPackedFile(
        QStringLiteral("docs/readme.txt.gz"), QStringLiteral("docs/readme.txt"), readmeText);
    return release;
}

} // namespace

class TestMainTask : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        if (!TestRelease::hasSigningKey())
            QSKIP("this build embeds a publisher's key; nothing here can be signed");
        fx = std::make_unique<PipelineFixture>();
        QVERIFY(fx->start({mirrorA, mirrorB}));
    }

    // The harness keeps the directories and prints the log of a failed test.
    void cleanup() { fx.reset(); }

    void updates_data()
    {
        QTest::addColumn<QString>("installed"); // "none", "previous" or "current"
        QTest::addColumn<bool>("copiesWaiting");
        QTest::addColumn<bool>("staleProductIni");
        QTest::addColumn<QStringList>("fetched"); // file keys
        // Requests for the product ini and its signature. The signature always
        // comes fresh: it says whether a kept product ini is still the mirror's.
        QTest::addColumn<int>("iniRequests");

        const QStringList all {"a.txt", "bin/davuzodur_linux_amd64", "docs/readme.txt.gz", "lib/libx.so"};
        QTest::newRow("fresh install") << "none" << false << false << all << 2;
        QTest::newRow("incremental update fetches the changed file only")
            << "previous" << false << false << QStringList {"a.txt"} << 2;
        QTest::newRow("nothing to do") << "current" << false << false << QStringList() << 2;
        QTest::newRow("resumed update reuses verified copies and fetches the signature only")
            << "previous" << true << false << QStringList() << 1;
        QTest::newRow("stale product ini in the temporary directory is fetched again")
            << "previous" << true << true << QStringList() << 3;
    }

    void updates()
    {
        QFETCH(QString, installed);
        QFETCH(bool, copiesWaiting);
        QFETCH(bool, staleProductIni);
        QFETCH(QStringList, fetched);
        QFETCH(int, iniRequests);

        const TestRelease release = makeRelease();
        const TestRelease previous = makeRelease("alpha version 1\n");
        if (installed == QLatin1String("previous"))
            QVERIFY(previous.install(fx->clientDir));
        if (installed == QLatin1String("current"))
            QVERIFY(release.install(fx->clientDir));
        const QString tempIni = fx->configuration.tempDir() + QLatin1Char('/') + release.productIniName();
        if (copiesWaiting) {
            // What an interrupted run of the same version leaves behind.
            QVERIFY(TestFiles::write(tempIni, release.productIni()));
            QVERIFY(TestFiles::write(tempIni + QStringLiteral(".sig"), release.signature()));
            QVERIFY(TestFiles::write(
                fx->configuration.tempDir() + QStringLiteral("/a.txt"), "alpha version 2\n"));
        }
        if (staleProductIni)
            QVERIFY(TestFiles::write(tempIni, previous.productIni()));
        serve(release);

        auto* root = makeRoot();
        QCOMPARE(fx->run(root), int(TaskSpecification::Finished));
        QCOMPARE(fx->finishedCount, 1);
        QCOMPARE(fx->log.first(), QStringLiteral("Starting update process"));
        QCOMPARE(fx->progressReports.last(), 1.0);

        // Every file of the release is in place, nothing else was added.
        QMap<QString, QByteArray> expected = contentsOf(fx->clientDir);
        for (const TestRelease::Entry& entry : release.entries())
            expected.insert(entry.installedPath, entry.installed);
        expected.remove(QStringLiteral("_old_a.txt"));
        QCOMPARE(contentsOf(fx->clientDir), expected);
        QVERIFY(!QFile::exists(fx->clientDir + QStringLiteral("/docs/readme.txt.gz")));

        // Requests: each needed file once, from either mirror.
        QStringList fetchedKeys;
        int iniRequested = 0;
        int sig256Questions = 0;
        const QStringList paths = fx->server.requestedPaths();
        for (const QString& path : paths) {
            const QString rest = path.section(QLatin1Char('/'), 3);
            if (rest == release.productIniName() + QStringLiteral(".sig256"))
                ++sig256Questions;
            else if (rest.startsWith(release.productIniName()))
                ++iniRequested;
            else if (!rest.startsWith(release.patchIndexName())) // asked for, not there
                fetchedKeys.append(rest.section(QLatin1Char('/'), 1));
        }
        fetchedKeys.sort();
        QCOMPARE(fetchedKeys, fetched);
        QCOMPARE(iniRequested, iniRequests);
        // Every attempt asks for the .sig256 before it takes the .sig.
        QCOMPARE(sig256Questions, staleProductIni ? 2 : 1);
        QCOMPARE(fx->count(QStringLiteral("No downloads needed")), fetched.isEmpty() ? 1 : 0);
        QCOMPARE(fx->count(QStringLiteral("The product ini kept from an earlier run does not match the "
                                          "mirror's signature; fetching it again")),
            staleProductIni ? 1 : 0);

        // The size shown is that of everything the update transferred.
        // Of the product ini's attempts only the last counts.
        qint64 bytes = release.signature().size() + (iniRequests == 1 ? 0 : release.productIni().size());
        for (const TestRelease::Entry& entry : release.entries()) {
            if (fetched.contains(entry.path))
                bytes += entry.served.size();
        }
        const TransferFigures figures = root->timeTick();
        QCOMPARE(figures.total, quint64(bytes));
        QCOMPARE(figures.done, quint64(bytes));
    }

    void patchedUpdates_data()
    {
        QTest::addColumn<QString>("installed"); // what the client has of the big file: "base" or "other"
        QTest::addColumn<QString>("fault"); // what goes wrong with its patch, if anything
        QTest::addColumn<bool>("packed"); // the big file is published packed
        QTest::addColumn<bool>("patchUsed"); // else the whole file is fetched
        QTest::addColumn<int>("mirrorsLeft");
        QTest::addColumn<QString>("logged");

        const QString missing = "The patch for %1 is not on the mirror, downloading the whole file";
        const QString corrupt =
            "md5 sum for the patch of %1 failed, invalidating mirror and downloading the whole file";
        const QString wrong = "The patch for %1 does not apply (it gives MD5 ";
        QTest::newRow("patch used") << "base"
                                    << "" << false << true << 2 << "";
        QTest::newRow("packed file patched between unpacked contents") << "base"
                                                                       << "" << true << true << 2 << "";
        QTest::newRow("installed copy differs from the base: whole file") << "other"
                                                                          << "" << false << false << 2 << "";
        QTest::newRow("patch missing on the mirror: whole file, mirror kept")
            << "base"
            << "missing" << false << false << 2 << missing;
        QTest::newRow("patch corrupt: whole file, the mirror that served it dropped")
            << "base"
            << "corrupt" << false << false << 1 << corrupt;
        QTest::newRow("patch giving a wrong result: whole file, no mirror blamed")
            << "base"
            << "wrong result" << false << false << 2 << wrong;
        QTest::newRow("packed file, patch giving a wrong result: whole file")
            << "base"
            << "wrong result" << true << false << 2 << wrong;
    }

    // A file whose installed copy is the start of a patch is fetched as the
    // patch; whatever goes wrong with the patch, that file alone is fetched
    // whole, and the client ends up with the release either way. The figures
    // shown count what actually came over the wire.
    void patchedUpdates()
    {
        QFETCH(QString, installed);
        QFETCH(QString, fault);
        QFETCH(bool, packed);
        QFETCH(bool, patchUsed);
        QFETCH(int, mirrorsLeft);
        QFETCH(QString, logged);

        QByteArray base;
        for (int i = 0; i < 4000; ++i)
            base += "line " + QByteArray::number(i) + " of the level data, version 1\n";
        QByteArray target = base;
        target.replace(50000, 7, "changed").insert(90000, "inserted in version 2\n");
        const QString key = packed ? QStringLiteral("data/level.dat.gz") : QStringLiteral("data/level.dat");
        TestRelease release = makeRelease();
        TestRelease previous = makeRelease("alpha version 1\n");
        if (packed) {
            release.addPackedFile(key, QStringLiteral("data/level.dat"), target);
            previous.addPackedFile(key, QStringLiteral("data/level.dat"), base);
        } else {
            release.addFile(key, target);
            previous.addFile(key, base);
        }
        const QByteArray patch = makePatch(base,
            fault == QLatin1String("wrong result") ? QByteArray(target).replace("changed", "CHANGED")
                                                   : target);
        QVERIFY(!patch.isEmpty());
        release.addPatch(1, key, base, patch);
        serve(release);
        const QString patchPath = QStringLiteral("/%1/42/") + release.patchPath(1, key);
        for (const QString& mirror : {mirrorA, mirrorB}) {
            if (fault == QLatin1String("missing"))
                fx->server.setAnswer(patchPath.arg(mirror), TestHttpServer::Answer::withStatus(404));
            if (fault == QLatin1String("corrupt"))
                fx->server.setAnswer(patchPath.arg(mirror), TestHttpServer::Answer::ok(damaged(patch)));
        }
        QVERIFY(previous.install(fx->clientDir));
        if (installed == QLatin1String("other"))
            QVERIFY(TestFiles::write(fx->clientDir + QStringLiteral("/data/level.dat"), damaged(base)));

        auto* root = makeRoot();
        QCOMPARE(fx->run(root), int(TaskSpecification::Finished));

        for (const TestRelease::Entry& entry : release.entries())
            QCOMPARE(
                TestFiles::read(fx->clientDir + QLatin1Char('/') + entry.installedPath), entry.installed);
        const int wholeRequests = fx->server.requestCount(release.serverPath(mirrorA, key))
            + fx->server.requestCount(release.serverPath(mirrorB, key));
        QCOMPARE(wholeRequests, patchUsed ? 0 : 1);
        QCOMPARE(fx->mirrors->getMirrorList().size(), mirrorsLeft);
        for (const FTPSiteAccessData& mirror : fx->mirrors->getMirrorList())
            QCOMPARE(mirror.errors, 0);
        if (!logged.isEmpty()) {
            QVERIFY2(fx->logged(logged.contains(QLatin1String("%1")) ? logged.arg(key) : logged),
                qPrintable(fx->log.join(QLatin1Char('\n'))));
        }
        const TransferFigures figures = root->timeTick();
        QCOMPARE(figures.done, bytesServed(fx->server));
        QCOMPARE(figures.total, figures.done);
        // The patch's working files are gone; the copy waits as a download's would.
        const QStringList work = QDir(fx->configuration.tempDir() + QStringLiteral("/data"))
                                     .entryList({QStringLiteral("*.corvane-patch*")});
        QVERIFY2(work.isEmpty(), qPrintable(work.join(QLatin1Char(' '))));
    }

    void replacesInstallsAndCleansUp()
    {
        TestRelease release;
        release.addFile(QStringLiteral("update"), "updater 2\n");
        release.addFile(QStringLiteral("a.txt"), "a 2\n");
        release.addFile(QStringLiteral("bin/davuzodur_linux_amd64"), "client 2\n");
        release.addFile(QStringLiteral("lib/libQtCore.so.4"), "qt core 2\n");
        release.addFile(QStringLiteral("lib/libfoo.so.4.8"), "not executable by suffix\n");
        release.addPackedFile(
            QStringLiteral("docs/readme.txt.gz"), QStringLiteral("docs/readme.txt"), readmeText);
        release.addDelete(QStringLiteral("obsolete.dat"));
        release.addDelete(QStringLiteral("vanished.dat"));
        serve(release);
        const QString client = fx->clientDir + QLatin1Char('/');
        QVERIFY(TestFiles::write(client + QStringLiteral("update"), "updater 1\n"));
        QVERIFY(TestFiles::write(client + QStringLiteral("a.txt"), "a 1\n"));
        QVERIFY(TestFiles::write(client + QStringLiteral("_old_a.txt"), "left over by an earlier update\n"));
        QVERIFY(TestFiles::write(client + QStringLiteral("bin/davuzodur_linux_amd64"), "client 1\n"));
        QVERIFY(TestFiles::write(client + QStringLiteral("docs/readme.txt"), "old readme\n"));
        QVERIFY(TestFiles::write(client + QStringLiteral("obsolete.dat"), "obsolete\n"));
        QVERIFY(
            TestFiles::write(client + QStringLiteral("vanished.dat"), "present when the lists are made\n"));
        auto* root = makeRoot();
        // Gone by the time the delete stage runs: passed over in silence.
        connect(root, &TaskSpecification::message, this, [client](const QString& line) {
            if (line == QLatin1String("Starting file updates"))
                QFile::remove(client + QStringLiteral("vanished.dat"));
        });

        QCOMPARE(fx->run(root), int(TaskSpecification::Finished));

        const QMap<QString, QByteArray> expected {
            {"a.txt", "a 2\n"},
            {"bin", "<dir>"},
            {"bin/davuzodur_linux_amd64", "client 2\n"},
            {"docs", "<dir>"},
            {"docs/readme.txt", readmeText},
            {"lib", "<dir>"},
            {"lib/libQtCore.so.4", "qt core 2\n"},
            {"lib/libfoo.so.4.8", "not executable by suffix\n"},
            {"mirrors.ini", TestFiles::read(client + QStringLiteral("mirrors.ini"))},
            {"update", "updater 2\n"},
            // The running updater's own file keeps its old copy until the next start.
            {"_old_update", "updater 1\n"},
        };
        QCOMPARE(contentsOf(fx->clientDir), expected);
        QVERIFY(hasProgramMode(client + QStringLiteral("update")));
        QVERIFY(hasProgramMode(client + QStringLiteral("bin/davuzodur_linux_amd64")));
        QVERIFY(hasProgramMode(client + QStringLiteral("lib/libQtCore.so.4")));
        QVERIFY(!hasProgramMode(client + QStringLiteral("lib/libfoo.so.4.8")));
        QVERIFY(!hasProgramMode(client + QStringLiteral("a.txt")));
        QCOMPARE(fx->count(QStringLiteral("Starting deleting files")), 1);
    }

    void corruptCopyOnOneMirrorIsFetchedFromTheOther()
    {
        TestRelease release;
        for (int i = 0; i < 8; ++i)
            release.addFile(QStringLiteral("f%1.txt").arg(i), QByteArray("file ") + QByteArray::number(i));
        serve(release);
        // Mirror A delivers every file damaged; with eight files and three
        // slots per mirror, A necessarily carries some of them.
        for (const TestRelease::Entry& entry : release.entries()) {
            fx->server.setAnswer(
                release.serverPath(mirrorA, entry.path), TestHttpServer::Answer::ok(damaged(entry.served)));
        }

        QCOMPARE(fx->run(makeRoot()), int(TaskSpecification::Finished));
        QCOMPARE(fx->mirrors->getMirrorIndex(mirrorA), -1);
        QVERIFY(fx->mirrors->getMirrorIndex(mirrorB) >= 0);
        QVERIFY(std::any_of(fx->log.cbegin(), fx->log.cend(), [](const QString& line) {
            return line.startsWith(QLatin1String("md5 sum for f"))
                && line.endsWith(QLatin1String(" failed, invalidating mirror and retrying"));
        }));
        for (const TestRelease::Entry& entry : release.entries())
            QCOMPARE(TestFiles::read(fx->clientDir + QLatin1Char('/') + entry.path), entry.installed);
    }

    void everyMirrorBadLeavesTheClientAsItWas()
    {
        const TestRelease release = makeRelease();
        serve(release);
        for (const QString& mirror : {mirrorA, mirrorB}) {
            fx->server.setAnswer(release.serverPath(mirror, QStringLiteral("a.txt")),
                TestHttpServer::Answer::ok(damaged("alpha version 2\n")));
        }
        QVERIFY(makeRelease("alpha version 1\n").install(fx->clientDir));
        const auto before = TestFiles::snapshot(fx->clientDir);

        QCOMPARE(fx->run(makeRoot()), int(TaskSpecification::ErrorCanceled));
        QCOMPARE(fx->canceledCount, 1);
        QCOMPARE(TestFiles::snapshot(fx->clientDir), before);
        QCOMPARE(fx->count(QStringLiteral("Starting file updates")), 0);
    }

    void failedInstallationRollsBack_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("leftover old copy that cannot be deleted") << "undeletable";
        QTest::newRow("packed file whose unpacked digest is wrong") << "wrong digest";
    }

    void failedInstallationRollsBack()
    {
        QFETCH(QString, failure);
        // Installed in key order, two at a time: the new directories and
        // the first files are in place before the last file fails.
        TestRelease release = makeRelease();
        release.addFile(QStringLiteral("new/dir/n.txt"), "new file in new directories\n");
        const QString client = fx->clientDir + QLatin1Char('/');
        if (failure == QLatin1String("undeletable")) {
            release.addFile(QStringLiteral("zz.txt"), "zz 2\n");
            QVERIFY(TestFiles::write(client + QStringLiteral("zz.txt"), "zz 1\n"));
            // A non-empty directory under the old name: it cannot be removed.
            QVERIFY(TestFiles::write(client + QStringLiteral("_old_zz.txt/keep"), "x"));
        } else {
            const QByteArray packed = TestFiles::gzip("unpacks to this\n");
            release.addRawEntry(TestRelease::defaultSection(), QStringLiteral("zz.txt.gz"),
                QStringLiteral("%1::%2::%3::16::zz.txt")
                    .arg(QString::fromLatin1(TestFiles::md5Hex(packed)))
                    .arg(packed.size())
                    .arg(QString::fromLatin1(TestFiles::md5Hex("something else"))),
                packed);
        }
        serve(release);
        QVERIFY(makeRelease("alpha version 1\n").install(fx->clientDir));
        const auto before = TestFiles::snapshot(fx->clientDir);

        QCOMPARE(fx->run(makeRoot()), int(TaskSpecification::ErrorCanceled));
        QCOMPARE(fx->count(QStringLiteral("rolling back file updates")), 1);
        QCOMPARE(TestFiles::snapshot(fx->clientDir), before);
        QCOMPARE(fx->count(QStringLiteral("Starting deleting files")), 0);
    }

    void refusedProductIni_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value"); // %OUT% is the directory beside the client
        QTest::addColumn<QString>("line");

        const QString digest = QString::fromLatin1(TestFiles::md5Hex("x"));
        QTest::newRow("invalid line") << "files"
                                      << "b.txt" << digest + "::1::2"
                                      << "Warning: product ini contains invalid line in section files";
        QTest::newRow("file key climbing out of the client directory")
            << "files"
            << "../outside/victim.txt" << digest + "::1"
            << "Warning: product ini contains unsafe path ../outside/victim.txt in section files";
        QTest::newRow("absolute unpacked path")
            << "files"
            << "v.gz" << digest + "::1::" + digest + "::1::%OUT%/victim.txt"
            << "Warning: product ini contains unsafe path %OUT%/victim.txt in section files";
        QTest::newRow("delete key climbing out of the client directory")
            << "delete"
            << "../outside/victim.txt"
            << "1"
            << "Warning: product ini contains unsafe path ../outside/victim.txt in section delete";
    }

    void refusedProductIni()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, line);
        const QString outside = fx->dir.filePath(QStringLiteral("outside"));
        QVERIFY(TestFiles::write(outside + QStringLiteral("/victim.txt"), "must survive\n"));
        TestRelease release = makeRelease();
        release.addRawEntry(section, key, value.replace(QStringLiteral("%OUT%"), outside));
        serve(release);
        QVERIFY(makeRelease("alpha version 1\n").install(fx->clientDir));
        const auto before = TestFiles::snapshot(fx->clientDir);
        const auto outsideBefore = TestFiles::snapshot(outside);

        QCOMPARE(fx->run(makeRoot()), int(TaskSpecification::ErrorCanceled));
        QCOMPARE(fx->log.last(), line.replace(QStringLiteral("%OUT%"), outside));
        // Nothing fetched beyond the product ini and its signature (after
        // the question for a .sig256) and the patch index asked for, nothing
        // changed anywhere.
        QCOMPARE(fx->server.requestedPaths().size(), 4);
        QCOMPARE(TestFiles::snapshot(fx->clientDir), before);
        QCOMPARE(TestFiles::snapshot(outside), outsideBefore);
    }

    void userCancelInEachStage_data()
    {
        QTest::addColumn<QString>("trigger"); // the log line after which the user cancels
        QTest::addColumn<QString>("slow"); // "m5": more/m5.txt drips, "more": every more/ file does
        QTest::addColumn<bool>("othersCurrent"); // more/m0..m4 installed already
        QTest::addColumn<int>("endState");
        QTest::addColumn<bool>("installed"); // whether the new release is in place afterwards
        QTest::addColumn<QString>("logged"); // a line that shows where the cancel met the update
        const int user = TaskSpecification::UserCanceled;
        QTest::newRow("product ini stage") << "Download / check product ini"
                                           << "m5" << false << user << false << "";
        QTest::newRow("list stage") << "Compiling download and replace list"
                                    << "m5" << false << user << false << "";
        // Only more/m5.txt is still on the wire: the one transfer ends as cancelled by the user.
        QTest::newRow("download stage, one transfer running") << "Downloading files/a.txt finished"
                                                              << "m5" << true << user << false << "";
        // The first transfer reached takes the user's cancel, and its running
        // siblings stop the same way: still the user's cancel, not an error.
        QTest::newRow("download stage, several transfers running") << "Downloading files/more/m5.txt"
                                                                   << "more" << false << user << false << "";
        // Installed two at a time in key order: a.txt and more/m0.txt are
        // done or under way when more/m1.txt starts, and must be undone.
        QTest::newRow("install stage") << "add/replace more/m1.txt"
                                       << "m5" << false << user << false << "rolling back file updates";
        QTest::newRow("delete stage") << "Starting deleting files"
                                      << "m5" << false << user << true << "";
    }

    void userCancelInEachStage()
    {
        QFETCH(QString, trigger);
        QFETCH(QString, slow);
        QFETCH(bool, othersCurrent);
        QFETCH(int, endState);
        QFETCH(bool, installed);
        QFETCH(QString, logged);
        TestRelease release = makeRelease();
        for (int i = 0; i < 6; ++i)
            release.addFile(QStringLiteral("more/m%1.txt").arg(i), QByteArray(20000, char('a' + i)));
        release.addDelete(QStringLiteral("obsolete.dat"));
        serve(release);
        // Slow transfers, so that a cancel in the download stage meets them running.
        for (const TestRelease::Entry& entry : release.entries()) {
            if (entry.path != QLatin1String("more/m5.txt")
                && !(slow == QLatin1String("more") && entry.path.startsWith(QLatin1String("more/"))))
                continue;
            TestHttpServer::Answer answer = TestHttpServer::Answer::ok(entry.served);
            answer.dripBytes = 1000;
            answer.dripIntervalMs = 50;
            for (const QString& mirror : {mirrorA, mirrorB})
                fx->server.setAnswer(release.serverPath(mirror, entry.path), answer);
        }
        QVERIFY(makeRelease("alpha version 1\n").install(fx->clientDir));
        for (int i = 0; othersCurrent && i < 5; ++i) {
            QVERIFY(TestFiles::write(
                fx->clientDir + QStringLiteral("/more/m%1.txt").arg(i), QByteArray(20000, char('a' + i))));
        }
        QVERIFY(TestFiles::write(fx->clientDir + QStringLiteral("/obsolete.dat"), "obsolete\n"));
        const auto before = TestFiles::snapshot(fx->clientDir);

        auto* root = makeRoot();
        // As the window's button does: from the event loop, not inside a task's signal.
        connect(root, &TaskSpecification::message, this, [root, trigger](const QString& line) {
            if (line == trigger)
                QMetaObject::invokeMethod(
                    root, [root] { root->userCanceled(); }, Qt::QueuedConnection);
        });
        QCOMPARE(fx->run(root), endState);
        QCOMPARE(fx->canceledCount, 1);
        QCOMPARE(fx->finishedCount, 0);
        QVERIFY(fx->log.contains(trigger));
        if (!logged.isEmpty())
            QCOMPARE(fx->count(logged), 1);
        if (installed) {
            for (const TestRelease::Entry& entry : release.entries())
                QCOMPARE(
                    TestFiles::read(fx->clientDir + QLatin1Char('/') + entry.installedPath), entry.installed);
        } else {
            QCOMPARE(TestFiles::snapshot(fx->clientDir), before);
        }
    }

private:
    void serve(const TestRelease& release)
    {
        release.serve(fx->server, mirrorA);
        release.serve(fx->server, mirrorB);
    }

    MainTaskSpecification* makeRoot()
    {
        return new MainTaskSpecification(
            &fx->manager, fx->mirrors.get(), fx->configuration.updateParameters(), fx.get(), 1.0);
    }

    std::unique_ptr<PipelineFixture> fx;
};

QTEST_GUILESS_MAIN(TestMainTask)
#include "tst_maintask.moc"
