// The installation phase on real files: what ends up in the client directory,
// on the delete list and in the log, and that a phase that does not complete
// leaves the client directory byte-for-byte as it found it.
#include "update/filereplacelisttaskspecification.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include "stagefixture.h"
#include "testfiles.h"
#include "update/filereplacetaskspecification.h"

namespace {

// Downloads are described by short entries: "a.txt" is a plain file,
// "a.txt.gz>a.txt" a packed one installed unpacked. A trailing "!" gives the
// entry a wrong MD5 of its installed content (a download changed after its
// check); a trailing "?" leaves the download out of the temporary directory;
// a trailing "+" lists a packed entry's unpacked size one byte short.
// The new content of a file is "new:" + its path.
QByteArray newContent(const QString& installedPath)
{
    return "new:" + installedPath.toUtf8();
}

} // namespace

class TestFileReplaceList final : public QObject {
    Q_OBJECT

private:
    // Puts the download of entry into the temporary directory and returns its record.
    static FileReplaceSpecification stage(const StageFixture& fixture, QString entry)
    {
        const bool wrongMd5 = entry.endsWith(QLatin1Char('!'));
        const bool missing = entry.endsWith(QLatin1Char('?'));
        const bool growing = entry.endsWith(QLatin1Char('+'));
        if (wrongMd5 || missing || growing)
            entry.chop(1);
        FileReplaceSpecification record;
        record.section = QStringLiteral("client");
        const int arrow = entry.indexOf(QLatin1Char('>'));
        QByteArray download;
        if (arrow < 0) {
            record.fileName = entry;
            download = newContent(entry);
            record.md5 = QString::fromLatin1(TestFiles::md5Hex(wrongMd5 ? download + "x" : download));
        } else {
            record.fileName = entry.left(arrow);
            record.unzipName = entry.mid(arrow + 1);
            const QByteArray content = newContent(record.unzipName);
            download = TestFiles::gzip(content);
            record.md5 = QString::fromLatin1(TestFiles::md5Hex(wrongMd5 ? content + "x" : content));
            record.size = quint64(content.size() - (growing ? 1 : 0));
        }
        if (!missing)
            TestFiles::write(fixture.tempPath(record.fileName), download);
        return record;
    }

    static QList<FileReplaceSpecification> stageAll(const StageFixture& fixture, const QStringList& entries)
    {
        QList<FileReplaceSpecification> list;
        for (const QString& entry : entries)
            list.append(stage(fixture, entry));
        return list;
    }

private slots:
    void installs_data()
    {
        QTest::addColumn<QStringList>("clientBefore");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("clientAfter");
        QTest::addColumn<QStringList>("deleteList");

        QTest::newRow("empty list changes nothing")
            << QStringList {"a.txt=old"} << QStringList {} << QStringList {"a.txt=old"} << QStringList {};
        QTest::newRow("new file") << QStringList {} << QStringList {"a.txt"}
                                  << QStringList {"a.txt=new:a.txt"} << QStringList {};
        QTest::newRow("installed file moves to its _old_ name")
            << QStringList {"a.txt=old"} << QStringList {"a.txt"}
            << QStringList {"_old_a.txt=old", "a.txt=new:a.txt"} << QStringList {"_old_a.txt"};
        QTest::newRow("_old_ copy stays beside the file in its directory")
            << QStringList {"doc/a.txt=old"} << QStringList {"doc/a.txt"}
            << QStringList {"doc/_old_a.txt=old", "doc/a.txt=new:doc/a.txt"}
            << QStringList {"doc/_old_a.txt"};
        QTest::newRow("packed file installed unpacked")
            << QStringList {"readme.txt=old"} << QStringList {"readme.txt.gz>readme.txt"}
            << QStringList {"_old_readme.txt=old", "readme.txt=new:readme.txt"}
            << QStringList {"_old_readme.txt"};
        QTest::newRow("packed file into a new directory")
            << QStringList {} << QStringList {"share/x.dat.gz>share/data/x.dat"}
            << QStringList {"share/data/x.dat=new:share/data/x.dat"} << QStringList {};
        QTest::newRow("leftover _old_ is deleted first")
            << QStringList {"a.txt=old", "_old_a.txt=older"} << QStringList {"a.txt"}
            << QStringList {"_old_a.txt=old", "a.txt=new:a.txt"} << QStringList {"_old_a.txt"};
        QTest::newRow("leftover _old_ of a file not installed stays")
            << QStringList {"_old_a.txt=older"} << QStringList {"a.txt"}
            << QStringList {"_old_a.txt=older", "a.txt=new:a.txt"} << QStringList {};
        QTest::newRow("the updater keeps its _old_ copy")
            << QStringList {"update=old"} << QStringList {"update"}
            << QStringList {"_old_update=old", "update=new:update"} << QStringList {};
        QTest::newRow("the updater's plug-in keeps its _old_ copy")
            << QStringList {"imageformats/libqjpeg.so=old"} << QStringList {"imageformats/libqjpeg.so"}
            << QStringList {"imageformats/_old_libqjpeg.so=old",
                   "imageformats/libqjpeg.so=new:imageformats/libqjpeg.so"}
            << QStringList {};
        QTest::newRow("several files in new nested directories")
            << QStringList {"lib/keep.so=old"}
            << QStringList {"plugins/a/x.so", "plugins/a/y.so", "plugins/b/c/z.so", "lib/keep.so", "top.txt"}
            << QStringList {"lib/_old_keep.so=old", "lib/keep.so=new:lib/keep.so",
                   "plugins/a/x.so=new:plugins/a/x.so", "plugins/a/y.so=new:plugins/a/y.so",
                   "plugins/b/c/z.so=new:plugins/b/c/z.so", "top.txt=new:top.txt"}
            << QStringList {"lib/_old_keep.so"};
    }

    void installs()
    {
        QFETCH(QStringList, clientBefore);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, clientAfter);
        QFETCH(QStringList, deleteList);

        StageFixture fixture;
        QVERIFY(fixture.isValid());
        StageFixture::writeFiles(fixture.clientPath(), clientBefore);
        QList<FileReplaceSpecification> replaceList = stageAll(fixture, entries);
        const auto tempBefore = TestFiles::snapshot(fixture.tempPath());
        QList<QString> deletes;

        FileReplaceListTaskSpecification phase(replaceList, deletes, fixture.parameters, nullptr, 0.4);
        fixture.watch(&phase);
        fixture.watchWaiting<FileReplaceTaskSpecification>(&phase);

        QCOMPARE(fixture.run(&phase), int(TaskSpecification::Finished));
        QCOMPARE(phase.progress(), 0.4);
        // At most the one whose start is under way; made ahead, they would all wait.
        QVERIFY(fixture.mostWaiting <= 1);
        QCOMPARE(StageFixture::files(fixture.clientPath()), clientAfter);
        QCOMPARE(deletes, deleteList);
        // The downloads are never moved or changed.
        QCOMPARE(TestFiles::snapshot(fixture.tempPath()), tempBefore);
        QCOMPARE(fixture.log.value(0), QStringLiteral("Starting file updates"));
        QVERIFY(!fixture.logged(QStringLiteral("rolling back")));
    }

    void permissionBits_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("installed");
        QTest::addColumn<int>("installedMode"); // -1: not installed yet
        QTest::addColumn<int>("expected");

        // Programs and libraries by name: 0755 less the umask (022 here).
        QTest::newRow("the updater") << "update"
                                     << "update" << -1 << 0755;
        QTest::newRow("the updater replacing a world-writable copy") << "update"
                                                                     << "update" << 0777 << 0755;
        QTest::newRow("the client binary") << "davuzodur_linux_amd64"
                                           << "davuzodur_linux_amd64" << 0700 << 0755;
        QTest::newRow("the start script") << "davuzodur_runscript.sh"
                                          << "davuzodur_runscript.sh" << -1 << 0755;
        QTest::newRow(".so in a directory") << "lib/libfoo.so"
                                            << "lib/libfoo.so" << 0666 << 0755;
        QTest::newRow(".so.4") << "libQtCore.so.4"
                               << "libQtCore.so.4" << -1 << 0755;
        QTest::newRow("packed .so, by its unpacked name")
            << "imageformats/libqgif.so.gz>imageformats/libqgif.so"
            << "imageformats/libqgif.so" << -1 << 0755;
        // Anything else keeps what the file it replaces had.
        QTest::newRow("a program the list does not name keeps its execute bit")
            << "bin/corvane-tool"
            << "bin/corvane-tool" << 0750 << 0750;
        QTest::newRow("a private file stays private") << "save.dat"
                                                      << "save.dat" << 0600 << 0600;
        QTest::newRow("packed, replacing") << "doc.txt.gz>doc.txt"
                                           << "doc.txt" << 0664 << 0664;
        QTest::newRow(".so.4.8 is not a library suffix") << "libfoo.so.4.8"
                                                         << "libfoo.so.4.8" << -1 << 0644;
        QTest::newRow("a new text file") << "readme.txt"
                                         << "readme.txt" << -1 << 0644;
        QTest::newRow("names compare case-sensitively") << "Update"
                                                        << "Update" << -1 << 0644;
    }

    void permissionBits()
    {
        QFETCH(QString, entry);
        QFETCH(QString, installed);
        QFETCH(int, installedMode);
        QFETCH(int, expected);

        const mode_t saved = ::umask(022);
        StageFixture fixture;
        QList<FileReplaceSpecification> replaceList {stage(fixture, entry)};
        const QByteArray path = QFile::encodeName(fixture.clientPath(installed));
        if (installedMode >= 0) {
            TestFiles::write(fixture.clientPath(installed), "old");
            QVERIFY(::chmod(path.constData(), mode_t(installedMode)) == 0);
        }
        QList<QString> deletes;
        FileReplaceListTaskSpecification phase(replaceList, deletes, fixture.parameters, nullptr, 1.0);
        const int outcome = fixture.run(&phase);
        ::umask(saved);
        QCOMPARE(outcome, int(TaskSpecification::Finished));

        struct stat info;
        QVERIFY(::stat(path.constData(), &info) == 0);
        QCOMPARE(int(info.st_mode & 07777), expected);
    }

    void failureRollsBack_data()
    {
        QTest::addColumn<int>("placingBatch");
        QTest::addColumn<QStringList>("clientBefore");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("readOnlyDir");
        QTest::addColumn<QString>("expectedLine");

        // Files before the bad one replace, create and unpack, so the undo
        // has renames, new files and new directories to take back. The files
        // before it are either still staged when it fails, or already put in
        // place by batches of their own.
        const QStringList before {"a.txt=old a", "c.txt=old c", "lib/x.so=old x"};
        const QStringList good {"a.txt", "new/dir/b.so", "c.txt.gz>c.txt", "lib/x.so"};
        for (const int batch : {1000, 1}) {
            const auto newRow = [batch](const char* name) -> QTestData& {
                return QTest::addRow("%s, %s", name, batch == 1 ? "each file placed at once" : "one batch")
                    << batch;
            };

            newRow("unpacked content with the wrong MD5")
                << before << good + QStringList {"z.txt.gz>z.txt!"} << QString()
                << QStringLiteral("Signature check failed for %1");
            newRow("wrong MD5 on the first file")
                << before << QStringList {"z.txt.gz>z.txt!"} + good << QString()
                << QStringLiteral("Signature check failed for %1");
            newRow("wrong MD5 replacing an installed file")
                << before + QStringList {"z.txt=old z"} << good + QStringList {"z.txt.gz>z.txt!"} << QString()
                << QStringLiteral("Signature check failed for %1");
            newRow("plain download changed after its check")
                << before + QStringList {"z.txt=old z"} << good + QStringList {"z.txt!"} << QString()
                << QStringLiteral("Signature check failed for %1");
            newRow("packed download unpacking past its listed size")
                << before << good + QStringList {"z.txt.gz>z.txt+"} << QString()
                << QStringLiteral("unpacks to more than its listed 8 bytes");
            newRow("download gone from the temporary directory")
                << before << good + QStringList {"z.txt?"} << QString() << QStringLiteral("Could not copy '");
            newRow("a file where a directory must be created")
                << before + QStringList {"blocker=file"} << good + QStringList {"blocker/z.txt"} << QString()
                << QStringLiteral("because it already exists and is not a dir");
            newRow("read-only target directory")
                << before + QStringList {"ro/z.txt=old z"} << good + QStringList {"ro/z.txt"}
                << QStringLiteral("ro") << QStringLiteral("Could not copy '");
        }
    }

    void failureRollsBack()
    {
        QFETCH(int, placingBatch);
        QFETCH(QStringList, clientBefore);
        QFETCH(QStringList, entries);
        QFETCH(QString, readOnlyDir);
        QFETCH(QString, expectedLine);

        StageFixture fixture;
        StageFixture::writeFiles(fixture.clientPath(), clientBefore);
        QList<FileReplaceSpecification> replaceList = stageAll(fixture, entries);
        if (!readOnlyDir.isEmpty()) {
            const QString dir = fixture.clientPath(readOnlyDir);
            QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            if (::access(QFile::encodeName(dir).constData(), W_OK) == 0)
                QSKIP("a read-only directory is writable for this user (root)");
        }
        const auto snapshot = TestFiles::snapshot(fixture.clientPath());
        QList<QString> deletes {QStringLiteral("obsolete.txt")};

        FileReplaceListTaskSpecification phase(replaceList, deletes, fixture.parameters, nullptr, 1.0);
        phase.placingBatchFiles = placingBatch;
        fixture.watch(&phase);

        QCOMPARE(fixture.run(&phase), int(TaskSpecification::ErrorCanceled));
        QCOMPARE(TestFiles::snapshot(fixture.clientPath()), snapshot);
        if (expectedLine.contains(QLatin1String("%1")))
            expectedLine = expectedLine.arg(fixture.clientPath(QStringLiteral("z.txt")));
        QVERIFY2(fixture.logged(expectedLine), qPrintable(expectedLine));
        QVERIFY(fixture.logged(QStringLiteral("rolling back file updates")));
        QVERIFY(!fixture.logged(QStringLiteral("warning: rollback")));
    }

    void userCancelRollsBack_data()
    {
        QTest::addColumn<int>("placingBatch");
        QTest::newRow("files still staged") << 1000;
        QTest::newRow("files already put in place") << 1;
    }

    void userCancelRollsBack()
    {
        QFETCH(int, placingBatch);
        StageFixture fixture;
        StageFixture::writeFiles(fixture.clientPath(), {"a.txt=old a", "b.txt=old b", "c.txt=old c"});
        QList<FileReplaceSpecification> replaceList =
            stageAll(fixture, {"a.txt", "b.txt", "new/c.so", "c.txt", "d.txt.gz>d.txt", "e.txt"});
        const auto snapshot = TestFiles::snapshot(fixture.clientPath());
        QList<QString> deletes;

        FileReplaceListTaskSpecification phase(replaceList, deletes, fixture.parameters, nullptr, 1.0);
        phase.placingBatchFiles = placingBatch;
        fixture.watch(&phase);
        // The user cancels as the third file begins, with two installed or
        // being installed.
        connect(&phase, &TaskSpecification::message, &phase, [&phase](const QString& line) {
            if (line == QLatin1String("add/replace new/c.so"))
                phase.userCanceled();
        });

        QCOMPARE(fixture.run(&phase), int(TaskSpecification::UserCanceled));
        QCOMPARE(TestFiles::snapshot(fixture.clientPath()), snapshot);
        QVERIFY(fixture.logged(QStringLiteral("rolling back file updates")));
        QVERIFY(!fixture.logged(QStringLiteral("add/replace c.txt")));
    }

    void refusesPathsOutside_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("unzipName");

        QTest::newRow("dot-dot in the file name") << "../outside/x.txt" << QString();
        QTest::newRow("dot-dot inside the file name") << "lib/../../outside/x.txt" << QString();
        QTest::newRow("absolute file name") << "@outside/x.txt" << QString();
        QTest::newRow("dot-dot in the unpacked path") << "x.txt.gz"
                                                      << "../outside/x.txt";
        QTest::newRow("absolute unpacked path") << "x.txt.gz"
                                                << "@outside/x.txt";
        QTest::newRow("directory linked to the outside") << "linked/x.txt" << QString();
        QTest::newRow("packed into a linked directory") << "x.txt.gz"
                                                        << "linked/sub/x.txt";
    }

    void refusesPathsOutside()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, unzipName);

        StageFixture fixture;
        const auto resolve = [&](QString path) {
            return path.replace(QStringLiteral("@outside"), fixture.outsidePath());
        };
        StageFixture::writeFiles(fixture.clientPath(), {"a.txt=old a"});
        StageFixture::writeFiles(fixture.outsidePath(), {"x.txt=precious", "sub/x.txt=precious"});
        QVERIFY(QFile::link(fixture.outsidePath(), fixture.clientPath(QStringLiteral("linked"))));
        QList<FileReplaceSpecification> replaceList {stage(fixture, QStringLiteral("a.txt"))};
        FileReplaceSpecification bad;
        bad.fileName = resolve(fileName);
        bad.unzipName = resolve(unzipName);
        TestFiles::write(fixture.tempPath(QStringLiteral("x.txt.gz")), TestFiles::gzip("new"));
        replaceList.append(bad);
        const auto client = TestFiles::snapshot(fixture.clientPath());
        const auto outside = TestFiles::snapshot(fixture.outsidePath());
        QList<QString> deletes;

        FileReplaceListTaskSpecification phase(replaceList, deletes, fixture.parameters, nullptr, 1.0);
        fixture.watch(&phase);
        QCOMPARE(fixture.run(&phase), int(TaskSpecification::ErrorCanceled));
        QVERIFY(fixture.logged(QStringLiteral("Refusing to install")));
        QCOMPARE(TestFiles::snapshot(fixture.clientPath()), client);
        QCOMPARE(TestFiles::snapshot(fixture.outsidePath()), outside);
        QVERIFY(deletes.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFileReplaceList)
#include "tst_filereplacelist.moc"
