// The download stage against two mirrors on a loopback server: what lands in
// the temporary directory, which requests the server saw, how a bad copy
// costs its mirror, and the figures the window shows.
#include "update/downloadfilelisttaskspecification.h"

#include <QLocale>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include "mirrorsfixture.h"
#include "net/mirrors.h"
#include "net/partialdownload.h"
#include "net/updaternetworkmanager.h"
#include "scratchmount.h"
#include "stagefixture.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "update/downloadfiletaskspecification.h"

namespace {

constexpr int version = 42;

// A file of the release: its content and where mirror M serves it.
QByteArray contentOf(const QString& fileName)
{
    return "content of " + fileName.toUtf8();
}

QString serverPath(const QString& mirror, const QString& section, const QString& fileName)
{
    return QStringLiteral("/%1/%2/%3/%4").arg(mirror).arg(version).arg(section, fileName);
}

} // namespace

class TestDownloadFileList final : public QObject {
    Q_OBJECT

private:
    // The stage's world: the fixture's directories plus a server carrying the
    // mirrors A and B, in that order, and a registry loaded from mirrors.ini.
    struct World {
        StageFixture fixture;
        TestHttpServer server;
        UpdaterNetworkManager manager;
        Mirrors mirrors {nullptr};
        QList<FileDownloadSpecification> list;

        bool start()
        {
            if (!fixture.isValid() || !server.listen())
                return false;
            manager.setProxy(QNetworkProxy::NoProxy);
            const QString ini = fixture.dir.filePath(QStringLiteral("mirrors.ini"));
            TestFiles::write(
                ini, MirrorsFixture::ini({{"A", server.baseUrl() + "/A"}, {"B", server.baseUrl() + "/B"}}));
            QObject::connect(&mirrors, &Mirrors::message, &fixture, &TaskHarness::logLine);
            mirrors.initDefault(ini, version);
            MirrorsFixture::seedToPick(mirrors, QStringLiteral("A"));
            return mirrors.getMirrorList().size() == 2;
        }

        // Lists the file and serves content (or, on the mirrors in badOn, a
        // corrupt copy of the same size) from both mirrors.
        void addFile(const QString& section, const QString& fileName, const QByteArray& content,
            const QStringList& badOn = {})
        {
            list.append({section, fileName, QString::fromLatin1(TestFiles::md5Hex(content)),
                quint64(content.size())});
            for (const QString& mirror : {QStringLiteral("A"), QStringLiteral("B")}) {
                QByteArray body = content;
                if (badOn.contains(mirror))
                    body[0] = char(body[0] ^ 0x55);
                server.setAnswer(serverPath(mirror, section, fileName), TestHttpServer::Answer::ok(body));
            }
        }

        int requestsTo(const QString& mirror) const
        {
            int n = 0;
            for (const QString& path : server.requestedPaths())
                n += path.startsWith(QLatin1Char('/') + mirror + QLatin1Char('/')) ? 1 : 0;
            return n;
        }
    };

private slots:
    void downloads_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("directories");

        QTest::newRow("nothing to download") << QStringList {} << QStringList {};
        QTest::newRow("one file") << QStringList {"client/a.so"} << QStringList {};
        QTest::newRow("files in a subdirectory, made once")
            << QStringList {"client/a.so", "client/lib/b.so", "client/lib/d.so"} << QStringList {"lib"};
        QTest::newRow("nested subdirectories and two sections") << QStringList {"client/plugins/img/q.so",
            "data/share/x.dat", "data/share/y.dat"} << QStringList {"plugins", "plugins/img", "share"};
        QTest::newRow("more files than run at once") << QStringList {"c/1", "c/2", "c/3", "c/4", "c/5", "c/6",
            "c/7", "c/8", "c/9", "c/10"} << QStringList {};
    }

    void downloads()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, directories);

        World world;
        QVERIFY(world.start());
        for (const QString& file : files) {
            const int slash = file.indexOf(QLatin1Char('/'));
            world.addFile(file.left(slash), file.mid(slash + 1), contentOf(file));
        }

        DownloadFileListTaskSpecification stage(
            world.list, &world.manager, &world.mirrors, world.fixture.parameters, nullptr, 0.4);
        world.fixture.watch(&stage);
        world.fixture.watchWaiting<DownloadFileTaskSpecification>(&stage);
        QCOMPARE(world.fixture.run(&stage), int(TaskSpecification::Finished));
        QCOMPARE(stage.progress(), 0.4);
        // At most the one whose start is under way; made ahead, they would all wait.
        QVERIFY(world.fixture.mostWaiting <= 1);

        QStringList expected;
        for (const QString& file : files) {
            const QString fileName = file.mid(file.indexOf(QLatin1Char('/')) + 1);
            expected.append(fileName + QLatin1Char('=') + QString::fromUtf8(contentOf(file)));
        }
        expected.sort();
        QCOMPARE(StageFixture::files(world.fixture.tempPath()), expected);
        for (const QString& dir : directories)
            QVERIFY2(QFileInfo(world.fixture.tempPath(dir)).isDir(), qPrintable(dir));
        // Each file fetched exactly once.
        QCOMPARE(world.server.requestedPaths().size(), files.size());
        QCOMPARE(world.fixture.log.value(0),
            files.isEmpty() ? QStringLiteral("No downloads needed") : QStringLiteral("Downloading files"));
    }

    void packedFileStaysPacked()
    {
        World world;
        QVERIFY(world.start());
        const QByteArray packed = TestFiles::gzip("the unpacked text");
        world.addFile(QStringLiteral("client"), QStringLiteral("readme.txt.gz"), packed);
        DownloadFileListTaskSpecification stage(
            world.list, &world.manager, &world.mirrors, world.fixture.parameters, nullptr, 1.0);
        QCOMPARE(world.fixture.run(&stage), int(TaskSpecification::Finished));
        QCOMPARE(TestFiles::read(world.fixture.tempPath(QStringLiteral("readme.txt.gz"))), packed);
    }

    void badCopy_data()
    {
        QTest::addColumn<QStringList>("badOn");
        QTest::addColumn<int>("endState");
        QTest::addColumn<QStringList>("mirrorsLeft");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("corrupt copy on one mirror, the other serves it")
            << QStringList {"A"} << int(TaskSpecification::Finished) << QStringList {"B"}
            << QStringList {"Signature check failed for @x.so",
                   "md5 sum for lib/x.so failed, invalidating mirror and retrying"};
        QTest::newRow("every mirror bad")
            << QStringList {"A", "B"} << int(TaskSpecification::ErrorCanceled) << QStringList {}
            << QStringList {"md5 sum for lib/x.so failed, invalidating mirror and retrying",
                   "There are no (more) known working mirrors available"};
    }

    void badCopy()
    {
        QFETCH(QStringList, badOn);
        QFETCH(int, endState);
        QFETCH(QStringList, mirrorsLeft);
        QFETCH(QStringList, lines);

        World world;
        QVERIFY(world.start());
        world.addFile(QStringLiteral("client"), QStringLiteral("lib/x.so"), contentOf("x"), badOn);
        DownloadFileListTaskSpecification stage(
            world.list, &world.manager, &world.mirrors, world.fixture.parameters, nullptr, 1.0);
        world.fixture.watch(&stage);

        QCOMPARE(world.fixture.run(&stage), endState);
        QStringList left;
        for (const FTPSiteAccessData& mirror : world.mirrors.getMirrorList())
            left.append(mirror.name);
        QCOMPARE(left, mirrorsLeft);
        for (QString line : lines) {
            line.replace(QStringLiteral("@"), world.fixture.tempPath(QStringLiteral("lib/")));
            QVERIFY2(world.fixture.log.contains(line), qPrintable(line));
        }
        // The first attempt went to A, the retry to B; nothing was fetched twice from a mirror.
        QCOMPARE(world.server.requestedPaths(),
            (QStringList {serverPath("A", "client", "lib/x.so"), serverPath("B", "client", "lib/x.so")}));
        if (endState == TaskSpecification::Finished)
            QCOMPARE(TestFiles::read(world.fixture.tempPath(QStringLiteral("lib/x.so"))), contentOf("x"));
    }

    void resumedCopyFailingItsCheckIsFetchedWholeFirst()
    {
        World world;
        QVERIFY(world.start());
        // A copy of 3 MiB of a 5 MiB file left by a stopped run, damaged on
        // this disk; mirror A continues it faithfully, B serves the file whole.
        constexpr qint64 size = 5 * 1024 * 1024;
        constexpr qint64 part = 3 * 1024 * 1024;
        const QByteArray whole = TestHttpServer::generatedBytes(0, size);
        world.list.append({QStringLiteral("c"), QStringLiteral("big.bin"),
            QString::fromLatin1(TestFiles::md5Hex(whole)), quint64(size)});
        const QString copy = world.fixture.tempPath(QStringLiteral("big.bin"));
        QVERIFY(TestFiles::write(copy, QByteArray(int(part), '\0')));
        QVERIFY(TestFiles::write(PartialDownload::validatorPath(copy), "\"v1\""));
        TestHttpServer::Answer rest =
            TestHttpServer::Answer::withStatus(206, TestHttpServer::generatedBytes(part, size - part));
        rest.headers.append({"Content-Range",
            "bytes " + QByteArray::number(part) + '-' + QByteArray::number(size - 1) + '/'
                + QByteArray::number(size)});
        world.server.setAnswer(serverPath("A", "c", "big.bin"), rest);
        world.server.setAnswer(serverPath("B", "c", "big.bin"), TestHttpServer::Answer::generated(size));
        DownloadFileListTaskSpecification stage(
            world.list, &world.manager, &world.mirrors, world.fixture.parameters, nullptr, 1.0);
        world.fixture.watch(&stage);
        connect(&stage, &TaskSpecification::message, &stage, [&world](const QString& line) {
            if (line.contains(QLatin1String("failed after resuming")))
                MirrorsFixture::seedToPick(world.mirrors, QStringLiteral("B"));
        });

        QCOMPARE(world.fixture.run(&stage), int(TaskSpecification::Finished));
        QVERIFY(world.fixture.log.contains(
            QStringLiteral("md5 sum for big.bin failed after resuming, fetching it again from the start")));
        // Neither mirror is blamed for the damaged part.
        QCOMPARE(world.mirrors.getMirrorList().size(), 2);
        QCOMPARE(world.server.requests().at(0).header("Range"), "bytes=" + QByteArray::number(part) + '-');
        QCOMPARE(world.server.requests().at(1).path, serverPath("B", "c", "big.bin"));
        QCOMPARE(world.server.requests().at(1).header("Range"), QByteArray());
        QCOMPARE(TestFiles::md5Hex(TestFiles::read(copy)), TestFiles::md5Hex(whole));
    }

    void badCopyAfterCancelIsNotFetchedAgain()
    {
        World world;
        QVERIFY(world.start());
        world.addFile(QStringLiteral("client"), QStringLiteral("x.so"), contentOf("x"), {"A"});
        DownloadFileListTaskSpecification stage(
            world.list, &world.manager, &world.mirrors, world.fixture.parameters, nullptr, 1.0);
        world.fixture.watch(&stage);
        // The user cancels while the copy is being checked: checks are not
        // interrupted, so the verdict arrives afterwards. Its failure line
        // is the last moment before the verdict is acted on.
        connect(&stage, &TaskSpecification::message, &stage, [&stage](const QString& line) {
            if (line.startsWith(QLatin1String("Signature check failed for")))
                stage.userCanceled();
        });

        QCOMPARE(world.fixture.run(&stage), int(TaskSpecification::UserCanceled));
        QCOMPARE(world.requestsTo(QStringLiteral("B")), 0);
        QCOMPARE(world.mirrors.getMirrorIndex(QStringLiteral("A")), -1);
        QVERIFY(!QFile::exists(world.fixture.tempPath(QStringLiteral("x.so"))));
    }

    void userCancelDuringTransfers()
    {
        World world;
        QVERIFY(world.start());
        // Both transfers stall halfway, so both are running when the user cancels.
        for (const QString& name : {QStringLiteral("one"), QStringLiteral("two")}) {
            const QByteArray content(4000, 'x');
            world.list.append(
                {QStringLiteral("c"), name, QString::fromLatin1(TestFiles::md5Hex(content)), 4000});
            TestHttpServer::Answer answer = TestHttpServer::Answer::ok(content);
            answer.stallAfter = 1000;
            world.server.setAnswer(serverPath("A", "c", name), answer);
            world.server.setAnswer(serverPath("B", "c", name), answer);
        }
        DownloadFileListTaskSpecification stage(
            world.list, &world.manager, &world.mirrors, world.fixture.parameters, nullptr, 1.0);
        QSignalSpy canceled(&stage, &TaskSpecification::canceled);
        stage.execute();
        QTRY_COMPARE_WITH_TIMEOUT(world.server.requestedPaths().size(), 2, 10000);

        stage.userCanceled();
        QVERIFY(canceled.count() == 1 || canceled.wait(5000));
        // Every running transfer ends as cancelled by the user, so the stage does too.
        QCOMPARE(stage.state(), int(TaskSpecification::UserCanceled));
        QCOMPARE(StageFixture::files(world.fixture.tempPath()), QStringList());
    }

    void totalIsKnownFromTheFirstTick()
    {
        World world;
        QVERIFY(world.start());
        world.addFile(QStringLiteral("c"), QStringLiteral("ten"), QByteArray(10, 'a'));
        world.addFile(QStringLiteral("c"), QStringLiteral("twenty"), QByteArray(20, 'b'));
        world.addFile(QStringLiteral("c"), QStringLiteral("thirty"), QByteArray(30, 'c'));
        DownloadFileListTaskSpecification stage(
            world.list, &world.manager, &world.mirrors, world.fixture.parameters, nullptr, 1.0);

        QSignalSpy finished(&stage, &TaskSpecification::finished);
        stage.execute();
        TransferFigures figures = stage.timeTick();
        QCOMPARE(figures.total, quint64(60));
        QCOMPARE(figures.done, quint64(0));

        QVERIFY(finished.wait(20000));
        // Finished files keep counting; the bytes since the previous tick
        // count as speed once.
        figures = stage.timeTick();
        QCOMPARE(figures.total, quint64(60));
        QCOMPARE(figures.done, quint64(60));
        QCOMPARE(figures.speed, quint64(60));
        QVERIFY(!figures.active);
        figures = stage.timeTick();
        QCOMPARE(figures.done, quint64(60));
        QCOMPARE(figures.speed, quint64(0));
    }

    void diskTooSmall_data()
    {
        QTest::addColumn<int>("files"); // of 200,000 bytes each, on a disk of 1 MiB
        QTest::addColumn<bool>("filledMeanwhile");
        QTest::addColumn<QString>("error"); // %FREE% stands for any size

        const QLocale c = QLocale::c();
        const QString start =
            QStringLiteral("Cannot store the downloads in @temp: No space left on device. ");
        QTest::newRow("more than the free space: nothing fetched") << 6 << false
                                                                   << start
                + QStringLiteral("They still need %1 there, %2 are free.")
                      .arg(c.formattedDataSize(6 * 200000), c.formattedDataSize(1024 * 1024));
        // Another program takes the room after the check, leaving less than
        // any one file needs.
        QTest::newRow("filled by someone else during the downloads")
            << 3 << true
            << QString(start).replace(QStringLiteral("@temp"), QStringLiteral("@temp/lib"))
                + QStringLiteral("They still need %1 there, %FREE% are free.")
                      .arg(c.formattedDataSize(3 * 200000));
    }

    // A full disk is this machine's problem: the stage stops with a message
    // that says where and how much, charges no mirror, and the session
    // continues once there is room.
    void diskTooSmall()
    {
        QFETCH(int, files);
        QFETCH(bool, filledMeanwhile);
        QFETCH(QString, error);

        ScratchMount mount(1024 * 1024);
        if (!mount.isMounted())
            QSKIP(qPrintable(mount.skipReason()));
        World world;
        QVERIFY(world.start());
        world.fixture.parameters.tempDir = mount.path();
        for (int i = 0; i < files; ++i)
            world.addFile(QStringLiteral("c"), QStringLiteral("lib/%1").arg(i),
                TestHttpServer::generatedBytes(i, 200000));
        const QString filler = mount.path() + QStringLiteral("/filler");
        auto stage = std::make_unique<DownloadFileListTaskSpecification>(
            world.list, &world.manager, &world.mirrors, world.fixture.parameters, nullptr, 1.0);
        world.fixture.watch(stage.get());
        if (filledMeanwhile) {
            connect(stage.get(), &TaskSpecification::message, stage.get(), [filler](const QString& line) {
                if (line == QLatin1String("Downloading files"))
                    TestFiles::write(filler, QByteArray(1024 * 1024 - 120000, 'f'));
            });
        }

        QCOMPARE(world.fixture.run(stage.get()), int(TaskSpecification::ErrorCanceled));
        const QStringList errors = world.fixture.log.filter(QRegularExpression(QStringLiteral("^error: ")));
        QCOMPARE(errors.size(), 1);
        QStringList parts = (QStringLiteral("error: ") + error).split(QStringLiteral("%FREE%"));
        for (QString& part : parts)
            part = QRegularExpression::escape(part.replace(QStringLiteral("@temp"), mount.path()));
        const QString pattern = parts.join(QStringLiteral(".+"));
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(pattern))
                     .match(errors.constFirst())
                     .hasMatch(),
            qPrintable(errors.constFirst()));
        QCOMPARE(world.mirrors.getMirrorList().size(), 2);
        for (const FTPSiteAccessData& mirror : world.mirrors.getMirrorList())
            QCOMPARE(mirror.errors, 0);
        if (!filledMeanwhile) {
            QVERIFY(world.server.requestedPaths().isEmpty());
            QVERIFY(TestFiles::snapshot(mount.path()).isEmpty());
            return;
        }

        // Room made, the next run of the session fetches every file.
        QVERIFY(QFile::remove(filler));
        stage = std::make_unique<DownloadFileListTaskSpecification>(
            world.list, &world.manager, &world.mirrors, world.fixture.parameters, nullptr, 1.0);
        QCOMPARE(world.fixture.run(stage.get()), int(TaskSpecification::Finished));
        for (int i = 0; i < files; ++i) {
            QCOMPARE(TestFiles::read(mount.path() + QStringLiteral("/lib/%1").arg(i)),
                TestHttpServer::generatedBytes(i, 200000));
        }
    }

    void refusesBeforeFetching_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("line");

        QTest::newRow("dot-dot in a name")
            << "../outside/x.so"
            << "Refusing to download ../outside/x.so: its path leads outside the temporary directory";
        QTest::newRow("absolute name") << "@outside/x.so"
                                       << "Refusing to download @outside/x.so";
        QTest::newRow("a file where a directory must be made") << "blocker/x.so"
                                                               << "Could not create dir @temp/blocker";
    }

    void refusesBeforeFetching()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, line);

        World world;
        QVERIFY(world.start());
        const auto resolve = [&](QString text) {
            return text.replace(QStringLiteral("@outside"), world.fixture.outsidePath())
                .replace(QStringLiteral("@temp"), world.fixture.tempPath());
        };
        TestFiles::write(world.fixture.tempPath(QStringLiteral("blocker")), "a file");
        world.addFile(QStringLiteral("client"), QStringLiteral("first.so"), contentOf("first"));
        world.addFile(QStringLiteral("client"), resolve(fileName), contentOf("x"));
        const auto outside = TestFiles::snapshot(world.fixture.outsidePath());

        DownloadFileListTaskSpecification stage(
            world.list, &world.manager, &world.mirrors, world.fixture.parameters, nullptr, 1.0);
        world.fixture.watch(&stage);
        QCOMPARE(world.fixture.run(&stage), int(TaskSpecification::ErrorCanceled));
        QVERIFY2(world.fixture.logged(resolve(line)), qPrintable(world.fixture.log.join('\n')));
        QVERIFY(world.server.requestedPaths().isEmpty());
        QCOMPARE(TestFiles::snapshot(world.fixture.outsidePath()), outside);
    }
};

QTEST_GUILESS_MAIN(TestDownloadFileList)
#include "tst_downloadfilelist.moc"
