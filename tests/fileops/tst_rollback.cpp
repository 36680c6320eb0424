// Undo journal: order of undo, warnings, and what is left on disk.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "fileops/atomicreplace.h"
#include "fileops/rollback.h"
#include "testfiles.h"

class TestRollback : public QObject {
    Q_OBJECT

private slots:
    void undoesNewestFirst();
    void failedStep_data();
    void failedStep();
    void keepsPathsAsGiven_data();
    void keepsPathsAsGiven();
};

void TestRollback::undoesNewestFirst()
{
    // Each step can only be undone after the later ones: the directory only
    // once it is empty, x only once the new x is gone. Files' own journals
    // are handed over to the phase's journal as the files complete.
    QTemporaryDir dir;
    QVERIFY(TestFiles::write(dir.filePath("x"), "old x"));
    QVERIFY(TestFiles::write(dir.filePath("y"), "old y"));
    const auto before = TestFiles::snapshot(dir.path());

    RollbackDataList phase;
    QVERIFY(QDir(dir.path()).mkdir("d"));
    phase.add(RollbackData(RollbackData::CreateDir, dir.filePath("d")));
    RollbackDataList newFile;
    QVERIFY(TestFiles::write(dir.filePath("d/a"), "new a"));
    newFile.add(RollbackData(RollbackData::CreateFile, dir.filePath("d/a")));
    RollbackDataList replacedFile;
    QVERIFY(QFile::rename(dir.filePath("x"), dir.filePath("_old_x")));
    replacedFile.add(RollbackData(RollbackData::Rename, dir.filePath("x"), dir.filePath("_old_x")));
    QVERIFY(TestFiles::write(dir.filePath("x"), "new x"));
    replacedFile.add(RollbackData(RollbackData::CreateFile, dir.filePath("x")));
    RollbackDataList swappedFile;
    QVERIFY(TestFiles::write(dir.filePath("_new_y"), "new y"));
    QVERIFY(
        AtomicReplace::replaceKeepingOld(dir.filePath("_new_y"), dir.filePath("y"), dir.filePath("_old_y")));
    swappedFile.add(RollbackData(RollbackData::Replace, dir.filePath("_old_y"), dir.filePath("y")));
    phase.appendList(newFile);
    phase.appendList(replacedFile);
    phase.appendList(swappedFile);

    QStringList warnings;
    QVERIFY(phase.rollback([&warnings](const QString& text) { warnings << text; }));
    QCOMPARE(TestFiles::snapshot(dir.path()), before);
    QCOMPARE(warnings, QStringList());
    QVERIFY(phase.isEmpty());
}

void TestRollback::failedStep_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("withListener");
    QTest::addColumn<QString>("expectedMessage");

    QTest::newRow("rename back onto a name taken meanwhile")
        << "rename" << true << "warning: rollback rename %1/old to %1/new failed";
    QTest::newRow("created dir still holds a file nobody journaled")
        << "dir" << true << "warning: rollback create dir %1/d failed";
    QTest::newRow("created file already gone")
        << "file" << true << "warning: rollback create file %1/gone failed";
    QTest::newRow("replaced file whose old copy is gone")
        << "replace" << true << "warning: rollback rename %1/a to %1/_old_a failed";
    QTest::newRow("nobody listening") << "file" << false << QString();
}

void TestRollback::failedStep()
{
    QFETCH(QString, kind);
    QFETCH(bool, withListener);
    QFETCH(QString, expectedMessage);

    QTemporaryDir dir;
    RollbackDataList journal;
    QVERIFY(TestFiles::write(dir.filePath("earlier"), "x"));
    journal.add(RollbackData(RollbackData::CreateFile, dir.filePath("earlier")));
    if (kind == "rename") {
        QVERIFY(TestFiles::write(dir.filePath("new"), "moved"));
        QVERIFY(TestFiles::write(dir.filePath("old"), "someone else's"));
        journal.add(RollbackData(RollbackData::Rename, dir.filePath("old"), dir.filePath("new")));
    } else if (kind == "replace") {
        QVERIFY(TestFiles::write(dir.filePath("a"), "new a"));
        journal.add(RollbackData(RollbackData::Replace, dir.filePath("_old_a"), dir.filePath("a")));
    } else if (kind == "dir") {
        QVERIFY(TestFiles::write(dir.filePath("d/foreign"), "x"));
        journal.add(RollbackData(RollbackData::CreateDir, dir.filePath("d")));
    } else {
        journal.add(RollbackData(RollbackData::CreateFile, dir.filePath("gone")));
    }
    QVERIFY(TestFiles::write(dir.filePath("later"), "x"));
    journal.add(RollbackData(RollbackData::CreateFile, dir.filePath("later")));

    QStringList warnings;
    RollbackWarning listener;
    if (withListener)
        listener = [&warnings](const QString& text) { warnings << text; };
    QVERIFY(!journal.rollback(listener));

    // The steps around the failed one are undone all the same, and what the
    // failed step concerned is left as it was.
    QVERIFY(!QFile::exists(dir.filePath("earlier")) && !QFile::exists(dir.filePath("later")));
    if (kind == "rename") {
        QCOMPARE(TestFiles::read(dir.filePath("new")), QByteArray("moved"));
        QCOMPARE(TestFiles::read(dir.filePath("old")), QByteArray("someone else's"));
    }
    if (kind == "replace")
        QCOMPARE(TestFiles::read(dir.filePath("a")), QByteArray("new a"));
    QCOMPARE(warnings, withListener ? QStringList {expectedMessage.arg(dir.path())} : QStringList());

    // Reported once, never retried: the journal is empty now.
    QVERIFY(journal.isEmpty());
    QVERIFY(journal.rollback(listener));
    QCOMPARE(warnings.size(), withListener ? 1 : 0);
}

void TestRollback::keepsPathsAsGiven_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("previousPath");
    QTest::addColumn<QString>("path");

    QTest::newRow("below the base") << "/c/client"
                                    << "/c/client/d/_old_a"
                                    << "/c/client/d/a";
    QTest::newRow("one beside the base, same beginning") << "/c/client"
                                                         << "/c/client2/a"
                                                         << "/c/client/a";
    QTest::newRow("no base") << ""
                             << "/c/client/_old_a"
                             << "/c/client/a";
    QTest::newRow("not ASCII") << "/c/Straße"
                               << "/c/Straße/_old_Ü #1"
                               << "/c/Straße/Ü #1";
}

void TestRollback::keepsPathsAsGiven()
{
    QFETCH(QString, base);
    QFETCH(QString, previousPath);
    QFETCH(QString, path);

    // A record comes back as added, between others, and so it does from a
    // journal it was handed to that has another base.
    RollbackDataList journal;
    journal.setBaseDirectory(base);
    journal.add(RollbackData(RollbackData::CreateDir, base + "/d"));
    journal.add(RollbackData(RollbackData::Replace, previousPath, path));
    journal.add(RollbackData(RollbackData::CreateFile, path + "x"));
    RollbackDataList phase;
    phase.setBaseDirectory("/c");
    phase.appendList(journal);
    for (const RollbackDataList* list : {&journal, &phase}) {
        QCOMPARE(list->size(), 3);
        QCOMPARE(list->at(0).path, base + "/d");
        QCOMPARE(list->at(1).operation, RollbackData::Replace);
        QCOMPARE(list->at(1).previousPath, previousPath);
        QCOMPARE(list->at(1).path, path);
        QCOMPARE(list->at(2).path, path + "x");
    }
}

QTEST_GUILESS_MAIN(TestRollback)
#include "tst_rollback.moc"
