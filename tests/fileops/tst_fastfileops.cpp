// Directory creation, rename and delete tasks: what they change on disk,
// what they journal and what they report.
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "fileops/dircreatetaskspecification.h"
#include "fileops/filedeletetaskspecification.h"
#include "fileops/filerenametaskspecification.h"
#include "fileops/rollback.h"
#include "testfiles.h"

namespace {

// These tasks end inside execute(): the outcome is known without an event loop.
QStringList runToEnd(TaskSpecification& task, int expectedState)
{
    QSignalSpy messages(&task, &TaskSpecification::message);
    QSignalSpy ended(&task,
        expectedState == TaskSpecification::Finished ? &TaskSpecification::finished
                                                     : &TaskSpecification::canceled);
    task.execute();
    QStringList lines;
    for (const QList<QVariant>& args : messages)
        lines << args.at(0).toString();
    if (ended.count() != 1 || task.state() != expectedState)
        lines << QStringLiteral("(ended in state %1)").arg(task.state());
    return lines;
}

} // namespace

class TestFastFileOps : public QObject {
    Q_OBJECT

private slots:
    void dirCreate_data();
    void dirCreate();
    void dirCreateRelativeStopsAtWorkingDir();
    void rename_data();
    void rename();
    void deleteFile_data();
    void deleteFile();
};

void TestFastFileOps::dirCreate_data()
{
    QTest::addColumn<QString>("existingFile");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("journal");
    QTest::addColumn<QString>("message");

    QTest::newRow("existing directory is left alone") << "a/keep"
                                                      << "a" << QStringList() << QString();
    QTest::newRow("two levels below the nearest existing one, parent first")
        << QString() << "a/b" << QStringList {"a", "a/b"} << QString();
    QTest::newRow("trailing slash creates no extra level")
        << QString() << "a/b/" << QStringList {"a", "a/b"} << QString();
    QTest::newRow("regular file in the way")
        << "f"
        << "f" << QStringList() << "Could not create dir '%1/f' because it already exists and is not a dir";
    QTest::newRow("regular file in the way of a parent")
        << "f"
        << "f/sub" << QStringList()
        << "Could not create dir '%1/f' because it already exists and is not a dir";
}

void TestFastFileOps::dirCreate()
{
    QFETCH(QString, existingFile);
    QFETCH(QString, target);
    QFETCH(QStringList, journal);
    QFETCH(QString, message);

    QTemporaryDir dir;
    if (!existingFile.isEmpty())
        QVERIFY(TestFiles::write(dir.filePath(existingFile), "x"));
    const auto before = TestFiles::snapshot(dir.path());

    RollbackDataList records;
    DirCreateTaskSpecification task(dir.filePath(target), &records, nullptr, 1.0);
    const int state = message.isEmpty() ? TaskSpecification::Finished : TaskSpecification::ErrorCanceled;
    QCOMPARE(runToEnd(task, state), message.isEmpty() ? QStringList() : QStringList(message.arg(dir.path())));

    QStringList created;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const RollbackData record = records.at(i);
        QCOMPARE(record.operation, RollbackData::CreateDir);
        QVERIFY(QFileInfo(record.path).isDir());
        created << QDir(dir.path()).relativeFilePath(record.path);
    }
    QCOMPARE(created, journal);
    // Whatever was created, the journal takes away again.
    QVERIFY(records.rollback({}));
    QCOMPARE(TestFiles::snapshot(dir.path()), before);
}

void TestFastFileOps::dirCreateRelativeStopsAtWorkingDir()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    RollbackDataList records;
    DirCreateTaskSpecification task("missing/sub", &records, nullptr, 1.0);
    const QStringList messages = runToEnd(task, TaskSpecification::ErrorCanceled);
    QVERIFY(QDir::setCurrent(previous));

    QCOMPARE(messages, QStringList("Could not create dir missing/sub"));
    QVERIFY(records.isEmpty());
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestFastFileOps::rename_data()
{
    QTest::addColumn<bool>("sourceExists");
    QTest::addColumn<bool>("targetExists");

    QTest::newRow("onto a free name") << true << false;
    QTest::newRow("onto an existing file") << true << true;
    QTest::newRow("missing source") << false << false;
}

void TestFastFileOps::rename()
{
    QFETCH(bool, sourceExists);
    QFETCH(bool, targetExists);

    QTemporaryDir dir;
    const QString from = dir.filePath("a");
    const QString to = dir.filePath("_old_a");
    if (sourceExists)
        QVERIFY(TestFiles::write(from, "source"));
    if (targetExists)
        QVERIFY(TestFiles::write(to, "target"));
    const auto before = TestFiles::snapshot(dir.path());

    RollbackDataList records;
    FileRenameTaskSpecification task(from, to, &records, nullptr, 1.0);
    if (sourceExists && !targetExists) {
        QCOMPARE(runToEnd(task, TaskSpecification::Finished), QStringList());
        QVERIFY(!QFile::exists(from));
        QCOMPARE(TestFiles::read(to), QByteArray("source"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().operation, RollbackData::Rename);
        QVERIFY(records.rollback({}));
    } else {
        QCOMPARE(runToEnd(task, TaskSpecification::ErrorCanceled),
            QStringList(QString("Could not rename '%1' to '%2'").arg(from, to)));
        QVERIFY(records.isEmpty());
    }
    QCOMPARE(TestFiles::snapshot(dir.path()), before);
}

void TestFastFileOps::deleteFile_data()
{
    QTest::addColumn<QString>("atPath"); // "file", "nothing" or "directory"
    QTest::addColumn<bool>("mustSucceed");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("message");

    QTest::newRow("existing file") << "file" << true << false << QString();
    QTest::newRow("missing file, may fail") << "nothing" << false << false << QString();
    QTest::newRow("missing file, must succeed") << "nothing" << true << true << "Could not delete '%1'";
    // Still best effort, but a file left behind shows in the details.
    QTest::newRow("undeletable, may fail: reported and passed over")
        << "directory" << false << false << "Could not delete %1: Is a directory";
}

void TestFastFileOps::deleteFile()
{
    QFETCH(QString, atPath);
    QFETCH(bool, mustSucceed);
    QFETCH(bool, fails);
    QFETCH(QString, message);

    QTemporaryDir dir;
    const QString path = dir.filePath("_old_a");
    if (atPath == QLatin1String("file"))
        QVERIFY(TestFiles::write(path, "x"));
    else if (atPath == QLatin1String("directory"))
        QVERIFY(TestFiles::write(path + "/inside", "x"));
    FileDeleteTaskSpecification task(mustSucceed, path, nullptr, 1.0);
    QCOMPARE(runToEnd(task, fails ? TaskSpecification::ErrorCanceled : TaskSpecification::Finished),
        message.isEmpty() ? QStringList() : QStringList(message.arg(path)));
    QCOMPARE(QFile::exists(path), atPath == QLatin1String("directory"));
}

QTEST_GUILESS_MAIN(TestFastFileOps)
#include "tst_fastfileops.moc"
