// corvane-keytool as the release tooling runs it: files on disk, messages and
// exit codes.
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "testfiles.h"

namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

Result keytool(const QString& workDir, const QStringList& args)
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.start(QStringLiteral(CORVANE_KEYTOOL), args);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TestKeyTool : public QObject {
    Q_OBJECT

private slots:
    void createSignVerifyRoundTrip()
    {
        QTemporaryDir dir;
        const QString d = dir.path();
        QCOMPARE(keytool(d, {QStringLiteral("create")}).exitCode, 0);
        QCOMPARE(QFileInfo(d + QStringLiteral("/private.key")).size(), 2048);
        QCOMPARE(QFileInfo(d + QStringLiteral("/public.key")).size(), 2048);

        QVERIFY(TestFiles::write(d + QStringLiteral("/product.ini"), "[client]\nversion=4711\n"));
        QCOMPARE(keytool(d, {QStringLiteral("sign"), QStringLiteral("product.ini")}).exitCode, 0);
        QCOMPARE(QFileInfo(d + QStringLiteral("/product.ini.sig")).size(), 128);
        QCOMPARE(keytool(d, {QStringLiteral("verify"), QStringLiteral("product.ini")}).exitCode, 0);

        QVERIFY(TestFiles::write(d + QStringLiteral("/product.ini"), "[client]\nversion=4712\n"));
        const Result tampered = keytool(d, {QStringLiteral("verify"), QStringLiteral("product.ini")});
        QCOMPARE(tampered.exitCode, 1);
        QVERIFY2(tampered.err.contains(QStringLiteral("does not verify")), qPrintable(tampered.err));
    }

    void badInputGivesItsExitCode_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const auto args = [](const char* line) { return QString::fromLatin1(line).split(QLatin1Char(' ')); };
        QTest::newRow("no command") << QStringList() << 2 << "No command given";
        QTest::newRow("unknown command") << args("frobnicate") << 2 << "Unknown command: frobnicate";
        QTest::newRow("unknown option")
            << args("sign data --kee private.key") << 2 << "Unknown option: --kee";
        QTest::newRow("option without value") << args("sign data --key") << 2 << "needs a file name";
        QTest::newRow("sign without file") << args("sign") << 2 << "Expected one FILE";
        QTest::newRow("sign missing file")
            << args("sign nothing") << 3 << "Cannot open file for reading: nothing";
        QTest::newRow("verify without .sig") << args("verify unsigned") << 3 << "unsigned.sig";
        QTest::newRow("create over existing keys") << args("create") << 3 << "use --force";
        QTest::newRow("sign with public key")
            << args("sign data --key public.key") << 4 << "holds a public key";
        QTest::newRow("key file missing") << args("verify data --key none.key") << 4 << "Key file not found";
        QTest::newRow("short key file") << args("verify data --key short.key") << 4 << "is 140 bytes long";
        QTest::newRow("key file of garbage")
            << args("verify data --key garbage.key") << 4 << "not a key file";
        QTest::newRow("embed private key") << args("embed private.key out.cpp") << 4 << "holds a private key";
        QTest::newRow("signature of 129 bytes") << args("verify long") << 1 << "129 bytes long";
        QTest::newRow("import of a non-key") << args("import data out.key") << 4 << "not a DER RSA key";
    }

    void badInputGivesItsExitCode()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString d = dir.path();
        QCOMPARE(keytool(d, {QStringLiteral("create")}).exitCode, 0);
        const QByteArray privateKey = TestFiles::read(d + QStringLiteral("/private.key"));
        QVERIFY(TestFiles::write(d + QStringLiteral("/data"), "payload"));
        QVERIFY(TestFiles::write(d + QStringLiteral("/unsigned"), "payload"));
        QVERIFY(TestFiles::write(d + QStringLiteral("/long"), "payload"));
        QVERIFY(TestFiles::write(d + QStringLiteral("/long.sig"), QByteArray(129, 'x')));
        QVERIFY(TestFiles::write(d + QStringLiteral("/garbage.key"), QByteArray(2048, 'x')));
        QVERIFY(TestFiles::write(
            d + QStringLiteral("/short.key"), TestFiles::read(d + QStringLiteral("/public.key")).left(140)));

        const Result result = keytool(d, args);
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        // A refused create must leave the existing private key alone.
        QCOMPARE(TestFiles::read(d + QStringLiteral("/private.key")), privateKey);
    }
};

QTEST_GUILESS_MAIN(TestKeyTool)
#include "tst_keytool.moc"
