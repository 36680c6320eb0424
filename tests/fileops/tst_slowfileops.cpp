// Copy and unpack tasks on the thread pool: the files they leave, what they
// journal and what they report, with real gzip data.
#include <cerrno>
#include <memory>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include "fileops/filecopytaskspecification.h"
#include "fileops/fileunziptaskspecification.h"
#include "fileops/rollback.h"
#include "scratchmount.h"
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

QByteArray newContent()
{
    return QByteArrayLiteral("the new version\n");
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

// The unpacker or the copier of from to to.
std::unique_ptr<SlowFileOpTaskSpecification> makeOp(
    bool unzip, RollbackDataList* journal, const QString& from, const QString& to)
{
    if (unzip)
        return std::make_unique<FileUnzipTaskSpecification>(journal, from, to, nullptr, 1.0);
    return std::make_unique<FileCopyTaskSpecification>(journal, from, to, nullptr, 1.0);
}

} // namespace

class TestSlowFileOps : public QObject {
    Q_OBJECT

private slots:
    void fileOp_data();
    void fileOp();
    void createdFileJournaledAfterReset();
    void fullFileSystemIsNamed_data();
    void fullFileSystemIsNamed();
    void installsInOneStep_data();
    void installsInOneStep();
    void permissionBits_data();
    void permissionBits();
    void copySharesTheDownload_data();
    void copySharesTheDownload();
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
    std::unique_ptr<SlowFileOpTaskSpecification> task = makeOp(unzip, list, from, to);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QSignalSpy canceled(task.get(), &TaskSpecification::canceled);

    task->execute();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count() + canceled.count(), 1, 10000);

    if (expected) {
        QCOMPARE(task->state(), int(TaskSpecification::Finished));
        QCOMPARE(messages.count(), 0);
        QCOMPARE(TestFiles::read(to), *expected);
        QCOMPARE(journal.size(), withJournal ? 1 : 0);
        if (withJournal) {
            QCOMPARE(journal.first().operation, RollbackData::CreateFile);
            QCOMPARE(journal.first().path, to);
        }
    } else {
        QCOMPARE(task->state(), int(TaskSpecification::ErrorCanceled));
        const QString text = unzip ? "Could not unzip '%1' to '%2'" : "Could not copy '%1' to '%2'";
        // A failed system call is named; a refusal of our own says enough.
        const QString reason = source ? QString() : QStringLiteral(": No such file or directory");
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.first().first().toString(), text.arg(from, to) + reason);
        // No partial file, and a file that was there before is untouched.
        QCOMPARE(TestFiles::snapshot(dir.filePath("client")), clientBefore);
        QVERIFY(journal.isEmpty());
    }
    if (source)
        QCOMPARE(TestFiles::read(from), *source);
}

void TestSlowFileOps::fullFileSystemIsNamed_data()
{
    QTest::addColumn<bool>("unzip");
    QTest::newRow("copy") << false;
    QTest::newRow("unzip") << true;
}

void TestSlowFileOps::fullFileSystemIsNamed()
{
    QFETCH(bool, unzip);
    // A client directory on a file system too small for the new file.
    ScratchMount client(64 * 1024);
    if (!client.isMounted())
        QSKIP(qPrintable(client.skipReason()));
    QTemporaryDir dir;
    const QString from = dir.filePath(unzip ? "a.gz" : "a");
    const QString to = client.path() + "/a";
    QVERIFY(TestFiles::write(from, unzip ? TestFiles::gzip(sizeable()) : sizeable()));
    std::unique_ptr<SlowFileOpTaskSpecification> task = makeOp(unzip, nullptr, from, to);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    QSignalSpy canceled(task.get(), &TaskSpecification::canceled);

    task->execute();
    QVERIFY(canceled.wait(10000));
    const QString text = unzip ? "Could not unzip '%1' to '%2': %3" : "Could not copy '%1' to '%2': %3";
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.first().first().toString(), text.arg(from, to, qt_error_string(ENOSPC)));
    QVERIFY(TestFiles::snapshot(client.path()).isEmpty());
}

void TestSlowFileOps::createdFileJournaledAfterReset()
{
    // Once the file exists only the journal can take it away again, so the
    // record is kept even when the result no longer ends the task, and is
    // there when reset() returns: whoever resets may roll back next.
    QTemporaryDir dir;
    const QString from = dir.filePath("a.gz");
    const QString to = dir.filePath("a");
    QVERIFY(TestFiles::write(from, TestFiles::gzip("content")));

    RollbackDataList journal;
    FileUnzipTaskSpecification task(&journal, from, to, nullptr, 1.0);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    task.execute();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
    task.reset(); // the result is still queued
    QCOMPARE(journal.size(), 1);
    QCOMPARE(journal.first().path, to);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(journal.size(), 1);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(task.state(), int(TaskSpecification::NotStarted));
}

void TestSlowFileOps::installsInOneStep_data()
{
    QTest::addColumn<bool>("unzip");
    QTest::addColumn<Bytes>("installed"); // nullopt: a new file
    QTest::addColumn<bool>("oldTaken"); // the "_old_" name is in use
    QTest::addColumn<Bytes>("leftover"); // a staging file from a cut-off run
    QTest::addColumn<QString>("digest"); // "right", "RIGHT", "wrong" or empty
    QTest::addColumn<qint64>("limit"); // the most bytes an unpack may write, or -1
    QTest::addColumn<QString>("failure"); // empty: succeeds

    const Bytes none;
    const QString refused = QStringLiteral("Signature check failed for %1");
    QTest::newRow("copy replaces, the old content kept")
        << false << Bytes("installed") << false << none << "right" << qint64(-1) << "";
    QTest::newRow("unpack replaces, the old content kept")
        << true << Bytes("installed") << false << none << "right" << qint64(-1) << "";
    QTest::newRow("digest in capitals") << false << none << false << none << "RIGHT" << qint64(-1) << "";
    QTest::newRow("no digest, no check") << true << none << false << none << "" << qint64(-1) << "";
    QTest::newRow("a cut-off run's staging file is written afresh")
        << false << Bytes("installed") << false << Bytes("half") << "right" << qint64(-1) << "";
    QTest::newRow("copy with a wrong digest leaves the installed file")
        << false << Bytes("installed") << false << none << "wrong" << qint64(-1) << refused;
    QTest::newRow("unpack with a wrong digest creates nothing")
        << true << none << false << none << "wrong" << qint64(-1) << refused;
    QTest::newRow("old name in use: nothing changes")
        << false << Bytes("installed") << true << none << "right" << qint64(-1)
        << "Could not copy '%2' to '%1': File exists";
    QTest::newRow("unpack to exactly its listed size")
        << true << Bytes("installed") << false << none << "right" << qint64(newContent().size()) << "";
    // Refused before the digest, which would only say so once all of it
    // was written.
    QTest::newRow("unpack past its listed size stops, nothing changes")
        << true << Bytes("installed") << false << none << "right" << qint64(newContent().size() - 1)
        << QStringLiteral("'%2' unpacks to more than its listed 15 bytes");
}

// The new content appears at its name in one step, only when it is what the
// digest says, with the previous content kept for the journal to restore.
void TestSlowFileOps::installsInOneStep()
{
    QFETCH(bool, unzip);
    QFETCH(Bytes, installed);
    QFETCH(bool, oldTaken);
    QFETCH(Bytes, leftover);
    QFETCH(QString, digest);
    QFETCH(qint64, limit);
    QFETCH(QString, failure);

    QTemporaryDir dir;
    const QByteArray content = newContent();
    const QString from = dir.filePath(unzip ? "temp/a.gz" : "temp/a");
    const QString to = dir.filePath("client/a");
    const QString old = dir.filePath("client/_old_a");
    QVERIFY(TestFiles::write(from, unzip ? TestFiles::gzip(content) : content));
    QVERIFY(QDir(dir.path()).mkpath("client"));
    if (installed)
        QVERIFY(TestFiles::write(to, *installed));
    if (oldTaken)
        QVERIFY(TestFiles::write(old, "someone else's"));
    const auto before = TestFiles::snapshot(dir.filePath("client"));
    if (leftover)
        QVERIFY(TestFiles::write(dir.filePath("client/_new_a"), *leftover));

    InstallOptions options;
    if (digest == QLatin1String("wrong"))
        options.md5 = QString::fromLatin1(TestFiles::md5Hex(content + "x"));
    else if (!digest.isEmpty())
        options.md5 = QString::fromLatin1(TestFiles::md5Hex(content));
    if (digest == QLatin1String("RIGHT"))
        options.md5 = options.md5.toUpper();
    if (installed)
        options.oldPath = old;
    options.sizeLimit = limit;
    RollbackDataList journal;
    std::unique_ptr<SlowFileOpTaskSpecification> task = makeOp(unzip, &journal, from, to);
    task->setInstallOptions(options);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    QSignalSpy ended(task.get(), &TaskSpecification::canceled);
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    task->execute();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count() + ended.count(), 1, 10000);
    QVERIFY(!QFileInfo::exists(dir.filePath("client/_new_a")));

    if (!failure.isEmpty()) {
        QCOMPARE(task->state(), int(TaskSpecification::ErrorCanceled));
        QCOMPARE(messages.first().first().toString(), QString(failure).replace("%1", to).replace("%2", from));
        QCOMPARE(TestFiles::snapshot(dir.filePath("client")), before);
        QVERIFY(journal.isEmpty());
        return;
    }
    QCOMPARE(task->state(), int(TaskSpecification::Finished));
    QCOMPARE(TestFiles::read(to), content);
    QCOMPARE(journal.size(), 1);
    if (installed) {
        QCOMPARE(TestFiles::read(old), *installed);
        QCOMPARE(journal.first().operation, RollbackData::Replace);
    }
    // Undone, the directory is as it was, the staging file of the
    // cut-off run aside.
    QVERIFY(journal.rollback({}));
    QCOMPARE(TestFiles::snapshot(dir.filePath("client")), before);
}

void TestSlowFileOps::permissionBits_data()
{
    QTest::addColumn<int>("installedMode"); // -1: a new file
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("keepReplacedMode");
    QTest::addColumn<int>("umask");
    QTest::addColumn<int>("expected");

    QTest::newRow("program: 0755 less the umask") << -1 << 0755 << false << 022 << 0755;
    QTest::newRow("program, private umask") << -1 << 0755 << false << 077 << 0700;
    QTest::newRow("program, empty umask: still writable by its owner alone")
        << -1 << 0755 << false << 0 << 0755;
    QTest::newRow("program replacing a world-writable copy") << 0777 << 0755 << false << 022 << 0755;
    QTest::newRow("replaced file keeps its execute bits") << 0751 << -1 << true << 022 << 0751;
    QTest::newRow("replaced file keeps its private bits") << 0600 << -1 << true << 022 << 0600;
    QTest::newRow("new file takes the download's bits") << -1 << -1 << true << 022 << 0640;
}

void TestSlowFileOps::permissionBits()
{
    QFETCH(int, installedMode);
    QFETCH(int, mode);
    QFETCH(bool, keepReplacedMode);
    QFETCH(int, umask);
    QFETCH(int, expected);

    QTemporaryDir dir;
    const QString from = dir.filePath("a.dl");
    const QString to = dir.filePath("a");
    QVERIFY(TestFiles::write(from, "program"));
    QVERIFY(::chmod(QFile::encodeName(from).constData(), 0640) == 0);
    InstallOptions options;
    options.mode = mode;
    options.keepReplacedMode = keepReplacedMode;
    if (installedMode >= 0) {
        QVERIFY(TestFiles::write(to, "installed"));
        QVERIFY(::chmod(QFile::encodeName(to).constData(), mode_t(installedMode)) == 0);
        options.oldPath = dir.filePath("_old_a");
    }

    const mode_t saved = ::umask(mode_t(umask));
    FileCopyFunc copy(from, to, options);
    const bool copied = copy.run();
    ::umask(saved);
    QVERIFY(copied);
    struct stat info;
    QVERIFY(::stat(QFile::encodeName(to).constData(), &info) == 0);
    QCOMPARE(int(info.st_mode & 07777), expected);
}

void TestSlowFileOps::copySharesTheDownload_data()
{
    QTest::addColumn<QString>("downloads"); // empty: beside the client directory
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherOwner");
    QTest::addColumn<bool>("shared");

    QTest::newRow("same file system: a second name") << "" << -1 << false << true;
    QTest::newRow("program with bits of its own: written") << "" << 0755 << false << false;
    QTest::newRow("another user's download: written") << "" << -1 << true << false;
    QTest::newRow("another file system: written") << "/dev/shm" << -1 << false << false;
}

void TestSlowFileOps::copySharesTheDownload()
{
    QFETCH(QString, downloads);
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    QFETCH(bool, shared);

    QTemporaryDir dir;
    std::optional<QTemporaryDir> elsewhere;
    if (!downloads.isEmpty()) {
        elsewhere.emplace(downloads + "/tst_slowfileops-XXXXXX");
        struct stat here, there;
        if (!elsewhere->isValid() || ::stat(QFile::encodeName(dir.path()).constData(), &here) != 0
            || ::stat(QFile::encodeName(elsewhere->path()).constData(), &there) != 0
            || here.st_dev == there.st_dev)
            QSKIP("no second file system to download to");
    }
    if (otherOwner && ::geteuid() != 0)
        QSKIP("handing a file to another user needs root");
    const QString from = (elsewhere ? elsewhere->path() : dir.path()) + "/a.dl";
    const QString to = dir.filePath("a");
    const QByteArray content = TestFiles::noise(100 * 1024, 7);
    QVERIFY(TestFiles::write(from, content));
    if (otherOwner)
        QVERIFY(::chown(QFile::encodeName(from).constData(), 65534, 65534) == 0);
    InstallOptions options;
    options.mode = mode;
    options.md5 = QString::fromLatin1(TestFiles::md5Hex(content));

    FileCopyFunc copy(from, to, options);
    QVERIFY(copy.run());
    QCOMPARE(TestFiles::read(to), content);
    QCOMPARE(TestFiles::read(from), content);
    struct stat source, target;
    QVERIFY(::stat(QFile::encodeName(from).constData(), &source) == 0);
    QVERIFY(::stat(QFile::encodeName(to).constData(), &target) == 0);
    QCOMPARE(source.st_dev == target.st_dev && source.st_ino == target.st_ino, shared);
    QCOMPARE(int(target.st_nlink), shared ? 2 : 1);
}

QTEST_GUILESS_MAIN(TestSlowFileOps)
#include "tst_slowfileops.moc"
