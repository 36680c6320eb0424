// corvane-publish when things go wrong around it: a second run publishing the
// same version at the same time, a full output disk, a private key that
// others can read.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>

#include "scratchmount.h"
#include "testfiles.h"
#include "toolprocess.h"

namespace {

const QString publishTool = QStringLiteral(CORVANE_PUBLISH);
const QString keytool = QStringLiteral(CORVANE_KEYTOOL);

// The staging folders a run keeps in the output folder while it packs.
QStringList stagingFolders(const QString& out)
{
    return QDir(out).entryList({QStringLiteral(".corvane-publish-*")}, QDir::Dirs | QDir::Hidden);
}

} // namespace

class TestPublishFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void secondRunOfOneVersion_data();
    void secondRunOfOneVersion();
    void fullDiskSaysWhy_data();
    void fullDiskSaysWhy();
    void readablePrivateKeyIsWarnedAbout_data();
    void readablePrivateKeyIsWarnedAbout();

private:
    QStringList publishArgs(const QString& release, const QString& out, const QString& key = QString()) const;

    QTemporaryDir keys;
};

void TestPublishFaults::initTestCase()
{
    QVERIFY(keys.isValid());
    const auto created = ToolProcess::run(keytool, {QStringLiteral("create")}, keys.path());
    QVERIFY2(created.exitCode == 0, qPrintable(created.err));
}

QStringList TestPublishFaults::publishArgs(
    const QString& release, const QString& out, const QString& key) const
{
    return {release, out, QStringLiteral("--version"), QStringLiteral("9"), QStringLiteral("--key"),
        key.isEmpty() ? keys.filePath(QStringLiteral("private.key")) : key};
}

void TestPublishFaults::secondRunOfOneVersion_data()
{
    QTest::addColumn<bool>("force");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("published"); // what out/9/client/a.txt holds in the end
    QTest::newRow("without --force the version already there wins") << false << 5 << QByteArray("rival");
    QTest::newRow("with --force the later run replaces it whole") << true << 0 << QByteArray("slow");
}

// The slow run passes its start-up check, is held while a rival publishes
// the same version, and then finishes: only its final move can notice.
void TestPublishFaults::secondRunOfOneVersion()
{
    QFETCH(bool, force);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, published);
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out"));
    const QString slowRelease = dir.filePath(QStringLiteral("slow"));
    QVERIFY(TestFiles::write(slowRelease + QStringLiteral("/a.txt"), "slow"));
    QVERIFY(
        TestFiles::write(slowRelease + QStringLiteral("/big.bin"), TestFiles::noise(32 * 1000 * 1000, 7)));
    const QString rivalRelease = dir.filePath(QStringLiteral("rival"));
    QVERIFY(TestFiles::write(rivalRelease + QStringLiteral("/a.txt"), "rival"));
    QVERIFY(QDir().mkpath(out));

    QProcess slow;
    QStringList slowArgs = publishArgs(slowRelease, out) + QStringList {QStringLiteral("--gzip")};
    if (force)
        slowArgs << QStringLiteral("--force");
    slow.start(publishTool, slowArgs);
    QVERIFY(slow.waitForStarted());
    // Packing 32 MB takes far longer than this loop needs to see the staging
    // folder.
    QElapsedTimer clock;
    clock.start();
    while (stagingFolders(out).isEmpty() && slow.state() == QProcess::Running && clock.elapsed() < 30000) { }
    QVERIFY2(!stagingFolders(out).isEmpty(), "the slow run never started packing");
    QCOMPARE(::kill(pid_t(slow.processId()), SIGSTOP), 0);

    const auto rival = ToolProcess::run(publishTool, publishArgs(rivalRelease, out));
    ::kill(pid_t(slow.processId()), SIGCONT);
    QVERIFY2(rival.exitCode == 0, qPrintable(rival.err));
    QVERIFY(slow.waitForFinished(60000));

    QCOMPARE(slow.exitCode(), exitCode);
    if (exitCode != 0)
        QVERIFY2(
            QString::fromUtf8(slow.readAllStandardError()).contains(QStringLiteral("exists; use --force")),
            "the losing run does not say why");
    QCOMPARE(TestFiles::read(out + QStringLiteral("/9/client/a.txt")), published);
    // One whole tree, not a mix: only the slow run's has big.bin.
    QCOMPARE(QFileInfo::exists(out + QStringLiteral("/9/client/big.bin")), published == "slow");
    QCOMPARE(stagingFolders(out), QStringList());
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList {QStringLiteral("9")});
}

void TestPublishFaults::fullDiskSaysWhy_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("copying") << QStringList();
    QTest::newRow("packing") << QStringList {QStringLiteral("--gzip")};
}

void TestPublishFaults::fullDiskSaysWhy()
{
    QFETCH(QStringList, options);
    QTemporaryDir dir;
    const ScratchMount disk(512 * 1024);
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.skipReason()));
    const QString out = disk.path();
    const QString release = dir.filePath(QStringLiteral("release"));
    QVERIFY(TestFiles::write(release + QStringLiteral("/a.txt"), "a"));
    QVERIFY(TestFiles::write(release + QStringLiteral("/big.bin"), TestFiles::noise(2 * 1000 * 1000, 3)));

    const auto result = ToolProcess::run(publishTool, publishArgs(release, out) + options);
    QCOMPARE(result.exitCode, 5);
    QVERIFY2(result.err.contains(QStringLiteral(": No space left on device")), qPrintable(result.err));
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

void TestPublishFaults::readablePrivateKeyIsWarnedAbout_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("warns");
    for (const QString& tool : {keytool, publishTool}) {
        const QString name = QFileInfo(tool).fileName();
        QTest::addRow("%s, owner only", qPrintable(name)) << tool << 0600 << false;
        QTest::addRow("%s, group can read", qPrintable(name)) << tool << 0640 << true;
        QTest::addRow("%s, others can read", qPrintable(name)) << tool << 0604 << true;
    }
}

void TestPublishFaults::readablePrivateKeyIsWarnedAbout()
{
    QFETCH(QString, tool);
    QFETCH(int, mode);
    QFETCH(bool, warns);
    QTemporaryDir dir;
    const QString key = dir.filePath(QStringLiteral("private.key"));
    QVERIFY(QFile::copy(keys.filePath(QStringLiteral("private.key")), key));
    QCOMPARE(::chmod(QFile::encodeName(key).constData(), mode_t(mode)), 0);
    QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("release/a.txt")), "a"));

    const QStringList args = tool == keytool
        ? QStringList {QStringLiteral("sign"), dir.filePath(QStringLiteral("release/a.txt")),
            QStringLiteral("--key"), key}
        : publishArgs(dir.filePath(QStringLiteral("release")), dir.filePath(QStringLiteral("out")), key);
    const auto result = ToolProcess::run(tool, args);
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    QCOMPARE(result.err.contains(
                 QStringLiteral("warning: the private key %1 can be read by group or others").arg(key)),
        warns);
}

QTEST_GUILESS_MAIN(TestPublishFaults)
#include "tst_publishfaults.moc"
