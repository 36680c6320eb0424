// The last stage on real files: obsolete files go, vanished ones are passed
// over, and nothing outside the client directory is ever deleted.
#include "update/filedeletelisttaskspecification.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include "stagefixture.h"
#include "testfiles.h"

class TestFileDeleteList final : public QObject {
    Q_OBJECT

private slots:
    void deletes_data()
    {
        QTest::addColumn<QStringList>("clientBefore");
        QTest::addColumn<QStringList>("deleteList");
        QTest::addColumn<QStringList>("clientAfter");
        QTest::addColumn<QString>("refused");

        QTest::newRow("empty list") << QStringList {"a.txt=a"} << QStringList {} << QStringList {"a.txt=a"}
                                    << QString();
        QTest::newRow("obsolete files and _old_ copies deleted")
            << QStringList {"a.txt=a", "old.txt=o", "lib/_old_x.so=x", "lib/x.so=new"}
            << QStringList {"old.txt", "lib/_old_x.so"} << QStringList {"a.txt=a", "lib/x.so=new"}
            << QString();
        QTest::newRow("vanished file passed over")
            << QStringList {"a.txt=a", "b.txt=b"} << QStringList {"gone.txt", "b.txt"}
            << QStringList {"a.txt=a"} << QString();
        QTest::newRow("absolute entry refused")
            << QStringList {"a.txt=a"} << QStringList {"@outside/precious.txt", "a.txt"} << QStringList {}
            << QStringLiteral("@outside/precious.txt");
        QTest::newRow("dot-dot entry refused")
            << QStringList {"a.txt=a"} << QStringList {"../outside/precious.txt", "a.txt"} << QStringList {}
            << QStringLiteral("../outside/precious.txt");
        QTest::newRow("entry through a linked directory refused")
            << QStringList {"a.txt=a"} << QStringList {"linked/precious.txt"} << QStringList {"a.txt=a"}
            << QStringLiteral("linked/precious.txt");
    }

    void deletes()
    {
        QFETCH(QStringList, clientBefore);
        QFETCH(QStringList, deleteList);
        QFETCH(QStringList, clientAfter);
        QFETCH(QString, refused);

        StageFixture fixture;
        QVERIFY(fixture.isValid());
        for (QString& entry : deleteList)
            entry.replace(QStringLiteral("@outside"), fixture.outsidePath());
        refused.replace(QStringLiteral("@outside"), fixture.outsidePath());
        StageFixture::writeFiles(fixture.clientPath(), clientBefore);
        StageFixture::writeFiles(fixture.outsidePath(), {"precious.txt=keep"});
        QVERIFY(QFile::link(fixture.outsidePath(), fixture.clientPath(QStringLiteral("linked"))));

        FileDeleteListTaskSpecification stage(deleteList, fixture.parameters, nullptr, 0.05);
        fixture.watch(&stage);
        QCOMPARE(fixture.run(&stage), int(TaskSpecification::Finished));
        QCOMPARE(stage.progress(), 0.05);

        QCOMPARE(StageFixture::files(fixture.clientPath()), clientAfter);
        QCOMPARE(TestFiles::read(fixture.outsidePath(QStringLiteral("precious.txt"))), QByteArray("keep"));
        QStringList expectedLog {QStringLiteral("Starting deleting files")};
        if (!refused.isEmpty())
            expectedLog.append(
                QStringLiteral("Refusing to delete %1: its path leads outside the client directory")
                    .arg(refused));
        QCOMPARE(fixture.log, expectedLog);
    }

    // A directory that became a file is kept as "_old_<dir>" until the
    // update succeeds; left there, every later run would warn about it.
    void removesAKeptDirectoryTree()
    {
        StageFixture fixture;
        StageFixture::writeFiles(fixture.clientPath(),
            {"x=now a file", "_old_x/a.txt=a", "_old_x/sub/b.txt=b", "obsolete/keep.txt=k"});
        StageFixture::writeFiles(fixture.outsidePath(), {"precious.txt=keep"});
        QVERIFY(QFile::link(fixture.outsidePath(), fixture.clientPath(QStringLiteral("_old_x/sub/linked"))));
        // A folder the release names is none of the updater's copies.
        const QList<QString> deleteList {QStringLiteral("_old_x"), QStringLiteral("obsolete")};
        FileDeleteListTaskSpecification stage(deleteList, fixture.parameters, nullptr, 1.0);
        fixture.watch(&stage);
        QCOMPARE(fixture.run(&stage), int(TaskSpecification::Finished));

        QCOMPARE(
            StageFixture::files(fixture.clientPath()), (QStringList {"obsolete/keep.txt=k", "x=now a file"}));
        QVERIFY(!QFileInfo::exists(fixture.clientPath(QStringLiteral("_old_x"))));
        QCOMPARE(StageFixture::files(fixture.outsidePath()), QStringList {"precious.txt=keep"});
        QCOMPARE(fixture.log.mid(1),
            QStringList {QStringLiteral("Could not delete %1: Is a directory")
                             .arg(fixture.clientPath(QStringLiteral("obsolete")))});
    }

    void readsTheListWhenItStarts()
    {
        StageFixture fixture;
        StageFixture::writeFiles(fixture.clientPath(), {"_old_a.txt=old", "a.txt=new"});
        QList<QString> deleteList;
        FileDeleteListTaskSpecification stage(deleteList, fixture.parameters, nullptr, 1.0);
        // The installation stage appends its "_old_" names after the stage was made.
        deleteList.append(QStringLiteral("_old_a.txt"));
        QCOMPARE(fixture.run(&stage), int(TaskSpecification::Finished));
        QCOMPARE(StageFixture::files(fixture.clientPath()), QStringList {"a.txt=new"});
    }

    void cancelStopsFurtherDeletions()
    {
        StageFixture fixture;
        StageFixture::writeFiles(fixture.clientPath(), {"a.txt=a", "b.txt=b"});
        QList<QString> deleteList {QStringLiteral("a.txt"), QStringLiteral("b.txt")};
        FileDeleteListTaskSpecification stage(deleteList, fixture.parameters, nullptr, 1.0);
        QSignalSpy canceled(&stage, &TaskSpecification::canceled);
        stage.execute();
        // Deletions start from the event loop; the request comes first.
        stage.userCanceled();
        QVERIFY(canceled.wait(5000));
        QCOMPARE(stage.state(), int(TaskSpecification::UserCanceled));
        QCOMPARE(StageFixture::files(fixture.clientPath()), (QStringList {"a.txt=a", "b.txt=b"}));
    }
};

QTEST_GUILESS_MAIN(TestFileDeleteList)
#include "tst_filedeletelist.moc"
