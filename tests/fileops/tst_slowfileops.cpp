// Copy and unpack tasks on the thread pool: the files they leave, what they
// journal and what they report, with real gzip data.
#include <memory>
#include <optional>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "fileops/filecopytaskspecification.h"
#include "fileops/fileunziptaskspecification.h"
#include "fileops/rollback.h"
#include "testfiles.h"

Q_DECLARE_METATYPE(std::optional<QByteArray>)

namespace {

using Bytes = std::optional<QByteArray>;

// Enough to need many rounds of the unpacker's buffer, and not all alike so
// that it does not compress to nothing.
QByteArray sizeable()
{
    QByteArray data;
    for (int i = 0; data.size() < 300 * 1024; ++i)
        data += QByteArray::number(i * 7919 % 100003) + ' ';
    return data;
}

QByteArray truncatedGzip()
{
    const QByteArray packed = TestFiles::gzip(sizeable());
    return packed.left(packed.size() / 2);
}

QByteArray corruptGzip()
{
    QByteArray packed = TestFiles::gzip("some content to check");
    packed[packed.size() - 6] = char(packed.at(packed.size() - 6) ^ 0x55); // inside the CRC
    return packed;
}

} // namespace

class TestSlowFileOps : public QObject {
    Q_OBJECT

private slots:
    void fileOp_data();
    void fileOp();
    void createdFileJournaledAfterReset();
};

void TestSlowFileOps::fileOp_data()
{
    QTest::addColumn<bool>("unzip");
    QTest::addColumn<QString>("name");
    QTest::addColumn<Bytes>("source"); // nullopt: no source file
    QTest::addColumn<Bytes>("existing"); // nullopt: no destination yet
    QTest::addColumn<bool>("withJournal");
    QTest::addColumn<Bytes>("expected"); // nullopt: the operation fails

    const Bytes none;
    const QByteArray text("line one\nline two\n");
    QTest::newRow("copy") << false << "a.txt" << Bytes(text) << none << true << Bytes(text);
    QTest::newRow("copy of an empty file") << false << "a" << Bytes("") << none << true << Bytes("");
    QTest::newRow("copy of a large file")
        << false << "a" << Bytes(sizeable()) << none << true << Bytes(sizeable());
    QTest::newRow("copy, non-ASCII name")
        << false << "Ünïcödé файл.txt" << Bytes(text) << none << true << Bytes(text);
    QTest::newRow("copy onto an existing destination")
        << false << "a" << Bytes(text) << Bytes("mine") << true << none;
    QTest::newRow("copy of a missing source") << false << "a" << none << none << true << none;

    QTest::newRow("unzip gzip") << true << "a" << Bytes(TestFiles::gzip(text)) << none << true << Bytes(text);
    QTest::newRow("unzip gzip, no journal")
        << true << "a" << Bytes(TestFiles::gzip(text)) << none << false << Bytes(text);
    QTest::newRow("unzip gzip across many buffers")
        << true << "a" << Bytes(TestFiles::gzip(sizeable())) << none << true << Bytes(sizeable());
    QTest::newRow("unzip gzip of nothing")
        << true << "a" << Bytes(TestFiles::gzip("")) << none << true << Bytes("");
    QTest::newRow("unzip plain file passes through")
        << true << "a" << Bytes(text) << none << true << Bytes(text);
    QTest::newRow("unzip empty plain file") << true << "a" << Bytes("") << none << true << Bytes("");
    QTest::newRow("unzip, non-ASCII name")
        << true << "Ünïcödé файл.so" << Bytes(TestFiles::gzip(text)) << none << true << Bytes(text);
    QTest::newRow("unzip truncated gzip") << true << "a" << Bytes(truncatedGzip()) << none << true << none;
    QTest::newRow("unzip gzip with a bad checksum")
        << true << "a" << Bytes(corruptGzip()) << none << true << none;
    QTest::newRow("unzip missing source") << true << "a" << none << none << true << none;
    QTest::newRow("unzip onto an existing destination")
        << true << "a" << Bytes(TestFiles::gzip(text)) << Bytes("mine") << true << none;
}

void TestSlowFileOps::fileOp()
{
    QFETCH(bool, unzip);
    QFETCH(QString, name);
    QFETCH(Bytes, source);
    QFETCH(Bytes, existing);
    QFETCH(bool, withJournal);
    QFETCH(Bytes, expected);

    QTemporaryDir dir;
    const QString from = dir.filePath("temp/" + name + (unzip ? ".gz" : ""));
    const QString to = dir.filePath("client/" + name);
    QVERIFY(QDir(dir.path()).mkpath("temp") && QDir(dir.path()).mkpath("client"));
    if (source)
        QVERIFY(TestFiles::write(from, *source));
    if (existing)
        QVERIFY(TestFiles::write(to, *existing));
    const auto clientBefore = TestFiles::snapshot(dir.filePath("client"));

    RollbackDataList journal;
    RollbackDataList* list = withJournal ? &journal : nullptr;
    std::unique_ptr<SlowFileOpSpecification> task;
    if (unzip)
        task = std::make_unique<FileUnzipTaskSpecification>(list, from, to, nullptr, 1.0);
    else
        task = std::make_unique<FileCopyTaskSpecification>(list, from, to, nullptr, 1.0);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QSignalSpy canceled(task.get(), &TaskSpecification::canceled);

    task->execute();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count() + canceled.count(), 1, 10000);

    if (expected) {
        QCOMPARE(task->state, int(TaskSpecification::Finished));
        QCOMPARE(messages.count(), 0);
        QCOMPARE(TestFiles::read(to), *expected);
        QCOMPARE(journal.size(), withJournal ? 1 : 0);
        if (withJournal) {
            QCOMPARE(journal.first().operation, RollbackData::CreateFile);
            QCOMPARE(journal.first().path, to);
        }
    } else {
        QCOMPARE(task->state, int(TaskSpecification::ErrorCanceled));
        const QString text = unzip ? "Could not unzip '%1' to '%2'" : "Could not copy '%1' to '%2'";
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.first().first().toString(), text.arg(from, to));
        // No partial file, and a file that was there before is untouched.
        QCOMPARE(TestFiles::snapshot(dir.filePath("client")), clientBefore);
        QVERIFY(journal.isEmpty());
    }
    if (source)
        QCOMPARE(TestFiles::read(from), *source);
}

void TestSlowFileOps::createdFileJournaledAfterReset()
{
    // Once the file exists only the journal can take it away again, so the
    // record is kept even when the result no longer ends the task.
    QTemporaryDir dir;
    const QString from = dir.filePath("a.gz");
    const QString to = dir.filePath("a");
    QVERIFY(TestFiles::write(from, TestFiles::gzip("content")));

    RollbackDataList journal;
    FileUnzipTaskSpecification task(&journal, from, to, nullptr, 1.0);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    task.execute();
    task.reset(); // waits for the worker; its result is still queued
    QTRY_COMPARE_WITH_TIMEOUT(journal.size(), 1, 10000);
    QCOMPARE(journal.first().path, to);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(task.state, int(TaskSpecification::NotStarted));
}

QTEST_GUILESS_MAIN(TestSlowFileOps)
#include "tst_slowfileops.moc"
