// File checks by MD5 digest and by signature: verdicts, the exact log lines
// and the order in which a check task reports and ends.
#include "crypto/checksignaturetaskspecification.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QTest>

#include <tomcrypt.h>

#include "crypto/publickey.h"
#include "crypto/tomcryptutil.h"
#include "crypto/trustedkeys.h"
#include "testfiles.h"
#include "testsigning.h"

namespace {

const QString emptyMd5 = QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");

// Content that differs in every block, so a skipped or repeated block changes the digest.
QByteArray patterned(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 31) ^ (i >> 12));
    return data;
}

// A private key file in dir of a key the build does not trust.
QString strangerKey(const QTemporaryDir& dir)
{
    rsa_key stranger;
    create_key(&stranger, minKeyBits);
    RsaKeyGuard guard(&stranger);
    const QString keyFile = dir.filePath(QStringLiteral("stranger.key"));
    save_key(&stranger, PK_PRIVATE, QFile::encodeName(keyFile).constData());
    return keyFile;
}

// Runs a free-standing check on this thread, as the list compilation does.
bool runCheck(const QString& path, const QString& md5, QStringList* messages)
{
    CheckSigFunc func(path, md5);
    QObject::connect(
        &func, &ASyncFunc::message, &func, [messages](const QString& line) { *messages << line; });
    return func.run();
}

// Everything a task tells the world, in order.
class TaskLog {
public:
    explicit TaskLog(CheckSignatureTaskSpecification* task)
    {
        QObject::connect(
            task, &TaskSpecification::message, task, [this](const QString& line) { lines << line; });
        QObject::connect(task, &CheckSignatureTaskSpecification::checkDone, task,
            [this, task](bool pass, CheckSignatureTaskSpecification* sender) {
                lines << (sender == task ? QStringLiteral("checkDone(%1)").arg(pass ? "true" : "false")
                                         : QStringLiteral("checkDone from a stranger"));
            });
        QObject::connect(
            task, &TaskSpecification::finished, task, [this] { lines << QStringLiteral("finished"); });
        QObject::connect(
            task, &TaskSpecification::canceled, task, [this] { lines << QStringLiteral("canceled"); });
    }

    bool ended() const
    {
        return lines.contains(QStringLiteral("finished")) || lines.contains(QStringLiteral("canceled"));
    }

    QStringList lines;
};

} // namespace

class TestCheckSignatureTask : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { crypt_init(); }

    void md5Verdicts_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("md5");
        QTest::addColumn<QString>("where"); // "file", "missing" or a path of the system
        QTest::addColumn<bool>("pass");
        QTest::addColumn<QStringList>("messages"); // %1 is the checked path

        const QByteArray hello("hello");
        const QString helloMd5 = QString::fromLatin1(TestFiles::md5Hex(hello));
        const QByteArray large = patterned(3 * 256 * 1024 + 17);
        QTest::newRow("lowercase digest matches") << hello << helloMd5 << "file" << true << QStringList();
        QTest::newRow("uppercase digest matches")
            << hello << helloMd5.toUpper() << "file" << true << QStringList();
        QTest::newRow("empty file has the digest of empty input")
            << QByteArray() << emptyMd5 << "file" << true << QStringList();
        QTest::newRow("file of several read blocks")
            << large << QString::fromLatin1(TestFiles::md5Hex(large)) << "file" << true << QStringList();
        QTest::newRow("last digit differs")
            << hello << helloMd5.left(31) + QLatin1Char('0') << "file" << false << QStringList();
        QTest::newRow("digest with a trailing blank")
            << hello << helloMd5 + QLatin1Char(' ') << "file" << false << QStringList();
        QTest::newRow("missing file") << QByteArray() << helloMd5 << "missing" << false
                                      << QStringList {QStringLiteral("Could not open file %1 for reading")};
        // The kernel reports size 0 for it and then yields bytes.
        QTest::newRow("file yielding more than its size")
            << QByteArray() << emptyMd5 << "/proc/self/stat" << false
            << QStringList {QStringLiteral("could not read file %1 correctly")};
    }

    void md5Verdicts()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, md5);
        QFETCH(QString, where);
        QFETCH(bool, pass);
        QFETCH(QStringList, messages);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("client.bin"));
        if (where == QLatin1String("file"))
            QVERIFY(TestFiles::write(path, content));
        else if (where != QLatin1String("missing"))
            path = where;
        QStringList got;
        QCOMPARE(runCheck(path, md5, &got), pass);
        for (QString& line : messages)
            line.replace(QLatin1String("%1"), path);
        QCOMPARE(got, messages);
    }

    void signatureVerdicts_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<bool>("pass");
        QTest::addColumn<QStringList>("messages"); // %1 is the checked path
        QTest::newRow("signed with the build's key") << "" << true << QStringList();
        QTest::newRow("one byte of the file changed") << "data" << false << QStringList();
        QTest::newRow("signature a byte shorter than the modulus") << "sig-1" << false << QStringList();
        QTest::newRow("signature a byte longer than the modulus") << "sig+1" << false << QStringList();
        QTest::newRow("signature by another key") << "stranger" << false << QStringList();
        QTest::newRow("no .sig file")
            << "nosig" << false << QStringList {QStringLiteral("Could not open file %1.sig for reading")};
        QTest::newRow("a good .sig256 alone") << "strong" << true << QStringList();
        QTest::newRow("a good .sig256 beside a .sig of other content")
            << "strong, bad sig" << true << QStringList();
        QTest::newRow("a bad .sig256 beside a good .sig") << "bad strong" << false << QStringList();
        QTest::newRow("a .sig256 by another key beside a good .sig")
            << "stranger strong" << false << QStringList();
        QTest::newRow("a SHA-1 signature named .sig256") << "sha1 as strong" << false << QStringList();
        QTest::newRow("no file") << "nofile" << false
                                 << QStringList {QStringLiteral("Could not open file %1 for reading")};
    }

    void signatureVerdicts()
    {
        QFETCH(QString, tamper);
        QFETCH(bool, pass);
        QFETCH(QStringList, messages);
        if (TestSigning::devPrivateKeyPath().isEmpty())
            QSKIP("this build embeds a publisher's key; there is no private key to sign with");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("client_linux_amd64.ini"));
        const QString sigPath = path + QStringLiteral(".sig");
        QVERIFY(TestFiles::write(path, "[client]\nversion=4711\n"));
        QVERIFY(TestSigning::signFile(path));
        QByteArray sig = TestFiles::read(sigPath);
        rsa_key embedded;
        load_key(&embedded, PUBLIC_KEYS[0], keyFileSize);
        const int modulusSize = rsa_get_size(&embedded);
        rsa_free(&embedded);
        QCOMPARE(sig.size(), modulusSize);

        if (tamper == QLatin1String("data")) {
            QVERIFY(TestFiles::write(path, "[client]\nversion=4712\n"));
        } else if (tamper.startsWith(QLatin1String("sig"))) {
            sig.resize(sig.size() + tamper.mid(3).toInt(), '\0');
            QVERIFY(TestFiles::write(sigPath, sig));
        } else if (tamper == QLatin1String("stranger")) {
            QVERIFY(TestFiles::write(sigPath, TestSigning::sign(TestFiles::read(path), strangerKey(dir))));
        } else if (tamper == QLatin1String("nosig")) {
            QVERIFY(QFile::remove(sigPath));
        } else if (tamper == QLatin1String("nofile")) {
            QVERIFY(QFile::remove(path));
        } else if (tamper.contains(QLatin1String("strong"))) {
            // The .sig stays good; the .sig256 beside it is what counts.
            const QString sig256Path = path + QStringLiteral(".sig256");
            const QByteArray content = TestFiles::read(path);
            const QString devKey = TestSigning::devPrivateKeyPath();
            QByteArray sig256 = TestSigning::sign(content, devKey, SignatureHash::Sha256);
            if (tamper == QLatin1String("bad strong")) {
                sig256 = TestSigning::sign(content + "x", devKey, SignatureHash::Sha256);
            } else if (tamper == QLatin1String("stranger strong")) {
                sig256 = TestSigning::sign(content, strangerKey(dir), SignatureHash::Sha256);
            } else if (tamper == QLatin1String("sha1 as strong")) {
                sig256 = sig;
            }
            QVERIFY(TestFiles::write(sig256Path, sig256));
            if (tamper.endsWith(QLatin1String("bad sig")))
                QVERIFY(TestFiles::write(sigPath, TestSigning::sign(content + "x", devKey)));
        }

        QStringList got;
        QCOMPARE(runCheck(path, QString(), &got), pass);
        for (QString& line : messages)
            line.replace(QLatin1String("%1"), path);
        QCOMPARE(got, messages);
    }

    void taskReportsBeforeItEnds_data()
    {
        QTest::addColumn<QString>("md5"); // "good", "bad", or empty for the signature check
        QTest::addColumn<bool>("failOnMismatch");
        QTest::addColumn<bool>("userCancel"); // the user cancels while the check runs
        QTest::addColumn<QStringList>("events"); // %1 is the checked path
        QTest::addColumn<int>("endState");
        const QString failed = QStringLiteral("Signature check failed for %1");
        const int finished = TaskSpecification::Finished;
        QTest::newRow("pass finishes")
            << "good" << false << false << QStringList {"checkDone(true)", "finished"} << finished;
        QTest::newRow("pass finishes even when failure would cancel")
            << "good" << true << false << QStringList {"checkDone(true)", "finished"} << finished;
        QTest::newRow("mismatch reported, then finished")
            << "bad" << false << false << QStringList {failed, "checkDone(false)", "finished"} << finished;
        QTest::newRow("mismatch reported, then canceled")
            << "bad" << true << false << QStringList {failed, "checkDone(false)", "canceled"}
            << int(TaskSpecification::ErrorCanceled);
        QTest::newRow("read message comes before the verdict")
            << "" << false << false
            << QStringList {QStringLiteral("Could not open file %1.sig for reading"),
                   failed
                       + QStringLiteral(" (the updater trusts the key %1)")
                             .arg(TrustedKeys::fingerprints().join(QString())),
                   "checkDone(false)", "finished"}
            << finished;
        QTest::newRow("user cancel does not silence the check")
            << "bad" << false << true << QStringList {failed, "checkDone(false)", "finished"} << finished;
    }

    void taskReportsBeforeItEnds()
    {
        QFETCH(QString, md5);
        QFETCH(bool, failOnMismatch);
        QFETCH(bool, userCancel);
        QFETCH(QStringList, events);
        QFETCH(int, endState);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("client.bin"));
        QVERIFY(TestFiles::write(path, "payload"));
        const QString expected = md5 == QLatin1String("good")
            ? QString::fromLatin1(TestFiles::md5Hex("payload"))
            : md5 == QLatin1String("bad") ? emptyMd5
                                          : QString();
        CheckSignatureTaskSpecification task(path, expected, failOnMismatch, nullptr, 0.2);
        TaskLog log(&task);
        task.execute();
        if (userCancel)
            task.userCanceled();
        QTRY_VERIFY_WITH_TIMEOUT(log.ended(), 10000);
        for (QString& line : events)
            line.replace(QLatin1String("%1"), path);
        QCOMPARE(log.lines, events);
        QCOMPARE(task.state(), endState);
    }

    void knownDigestIsComparedInsteadOfTheFile_data()
    {
        QTest::addColumn<QByteArray>("known");
        QTest::addColumn<QStringList>("events");
        const QByteArray other = TestFiles::md5Hex("what was written");
        QTest::newRow("matching digest passes, whatever the file holds now")
            << other << QStringList {"checkDone(true)", "finished"};
        QTest::newRow("another digest fails like a mismatch") << other.toUpper()
                + "0" << QStringList {"Signature check failed for %1", "checkDone(false)", "canceled"};
    }

    void knownDigestIsComparedInsteadOfTheFile()
    {
        QFETCH(QByteArray, known);
        QFETCH(QStringList, events);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("client.bin"));
        QVERIFY(TestFiles::write(path, "payload"));
        CheckSignatureTaskSpecification task(
            path, QString::fromLatin1(TestFiles::md5Hex("what was written")), true, nullptr, 0.2);
        TaskLog log(&task);
        task.useDigest(known);
        task.execute();
        // Decided within execute(): no worker is involved.
        QVERIFY(log.ended());
        for (QString& line : events)
            line.replace(QLatin1String("%1"), path);
        QCOMPARE(log.lines, events);
    }

    // What a caller binds to a digest named elsewhere must be the bytes whose
    // signature was verified, and nothing when the check failed.
    void passedSignatureCheckTellsTheDigestOfWhatItVerified_data()
    {
        QTest::addColumn<bool>("goodSignature");
        QTest::newRow("signature verifies") << true;
        QTest::newRow("signature fails") << false;
    }

    void passedSignatureCheckTellsTheDigestOfWhatItVerified()
    {
        QFETCH(bool, goodSignature);
        if (TestSigning::devPrivateKeyPath().isEmpty())
            QSKIP("this build embeds a publisher's key; there is no private key to sign with");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("client_linux_amd64.ini"));
        const QByteArray content("[client]\nversion=4711\n");
        QVERIFY(TestFiles::write(path, goodSignature ? content : content + "x"));
        QVERIFY(TestFiles::write(path + QStringLiteral(".sig256"),
            TestSigning::sign(content, TestSigning::devPrivateKeyPath(), SignatureHash::Sha256)));
        CheckSignatureTaskSpecification task(path, QString(), false, nullptr, 1.0);
        TaskLog log(&task);
        task.execute();
        QTRY_VERIFY_WITH_TIMEOUT(log.ended(), 10000);
        QCOMPARE(task.verifiedSha256(),
            goodSignature ? QCryptographicHash::hash(content, QCryptographicHash::Sha256) : QByteArray());
    }

    void resultAfterResetIsDropped()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("client.bin"));
        QVERIFY(TestFiles::write(path, "payload"));
        CheckSignatureTaskSpecification task(path, emptyMd5, true, nullptr, 1.0);
        TaskLog log(&task);
        task.execute();
        task.reset(); // waits for the worker, whose result is now queued
        QCoreApplication::sendPostedEvents();
        QCOMPARE(log.lines, QStringList());
        QCOMPARE(task.state(), int(TaskSpecification::NotStarted));

        // The task can run again and reports exactly once.
        task.execute();
        QTRY_VERIFY_WITH_TIMEOUT(log.ended(), 10000);
        QCOMPARE(log.lines.count(QStringLiteral("checkDone(false)")), 1);
    }

    void concurrentChecksKeepTheirVerdicts()
    {
        const bool withSignatures = !TestSigning::devPrivateKeyPath().isEmpty();
        QTemporaryDir dir;
        QList<CheckSignatureTaskSpecification*> tasks;
        QHash<CheckSignatureTaskSpecification*, bool> expected;
        QHash<CheckSignatureTaskSpecification*, int> verdicts; // how many times, per verdict sign
        QObject owner;
        for (int i = 0; i < 16; ++i) {
            const QString path = dir.filePath(QStringLiteral("f%1").arg(i));
            const QByteArray content = patterned(64 * 1024 * (i + 1) + i);
            QVERIFY(TestFiles::write(path, content));
            const bool good = i % 3 != 0;
            QString md5 = QString::fromLatin1(TestFiles::md5Hex(good ? content : content + 'x'));
            if (withSignatures && i % 4 == 1) {
                md5.clear();
                if (good)
                    QVERIFY(TestSigning::signFile(path));
            }
            auto* task = new CheckSignatureTaskSpecification(path, md5, false, &owner, 1.0 / 16);
            connect(task, &CheckSignatureTaskSpecification::checkDone, this,
                [&verdicts](bool pass, CheckSignatureTaskSpecification* t) { verdicts[t] += pass ? 1 : -1; });
            tasks << task;
            expected[task] = good;
        }
        for (CheckSignatureTaskSpecification* task : tasks)
            task->execute();
        QTRY_COMPARE_WITH_TIMEOUT(verdicts.size(), tasks.size(), 20000);
        for (CheckSignatureTaskSpecification* task : tasks)
            QCOMPARE(verdicts.value(task), expected.value(task) ? 1 : -1);
    }
};

QTEST_GUILESS_MAIN(TestCheckSignatureTask)
#include "tst_checksignaturetask.moc"
