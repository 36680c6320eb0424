// corvane-keytool as the release tooling runs it: files on disk, messages and
// exit codes.
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <tomcrypt.h>

#include "crypto/publickey.h"
#include "crypto/tomcryptutil.h"
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

// Where the size of the key does not matter: small keys are made quickly.
QStringList quickCreate()
{
    return {QStringLiteral("create"), QStringLiteral("--bits"), QStringLiteral("1024")};
}

int modeOf(const QString& path)
{
    struct stat info { };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

} // namespace

class TestKeyTool : public QObject {
    Q_OBJECT

    QTemporaryDir others; // a second key pair
    QString otherPublicKey() const { return others.filePath(QStringLiteral("public.key")); }

private slots:
    void initTestCase()
    {
        QVERIFY(others.isValid());
        QCOMPARE(keytool(others.path(), quickCreate()).exitCode, 0);
        crypt_init();
    }

    void privateKeyIsWrittenPrivate_data()
    {
        QTest::addColumn<bool>("replacing");
        QTest::newRow("new files") << false;
        QTest::newRow("replacing readable files with --force") << true;
    }

    void privateKeyIsWrittenPrivate()
    {
        QFETCH(bool, replacing);
        QTemporaryDir dir;
        const QString d = dir.path();
        QStringList args = quickCreate();
        if (replacing) {
            for (const char* name : {"/private.key", "/public.key"}) {
                QVERIFY(TestFiles::write(d + QLatin1String(name), "old"));
                QCOMPARE(::chmod(QFile::encodeName(d + QLatin1String(name)).constData(), 0644), 0);
            }
            args << QStringLiteral("--force");
        }
        const ::mode_t oldMask = ::umask(022);
        const Result result = keytool(d, args);
        ::umask(oldMask);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(modeOf(d + QStringLiteral("/private.key")), 0600);
        QCOMPARE(modeOf(d + QStringLiteral("/public.key")), 0644);
        // Where the secret half went, in full.
        const QString canonical = QFileInfo(d).canonicalFilePath();
        QVERIFY2(result.out.contains(
                     QStringLiteral("private key to %1/private.key (readable by you only").arg(canonical)),
            qPrintable(result.out));
    }

    void fingerprintNamesThePublicHalf()
    {
        const auto fingerprintOf = [this](const QString& key) {
            const Result result = keytool(others.path(), {QStringLiteral("fingerprint"), key});
            return result.exitCode == 0 ? result.out.section(QLatin1Char(' '), 0, 0) : result.err;
        };
        const QString ofPublic = fingerprintOf(otherPublicKey());
        QVERIFY2(QRegularExpression(QStringLiteral("^SHA256:[A-Za-z0-9+/]{43}$")).match(ofPublic).hasMatch(),
            qPrintable(ofPublic));
        QCOMPARE(fingerprintOf(others.filePath(QStringLiteral("private.key"))), ofPublic);

        QTemporaryDir dir;
        QCOMPARE(keytool(dir.path(), quickCreate()).exitCode, 0);
        QVERIFY(fingerprintOf(dir.filePath(QStringLiteral("public.key"))) != ofPublic);
    }

    // What a publisher compares with their key's fingerprint.
    void embeddedKeyShowsTheKeyToolsFingerprint()
    {
        QVERIFY(publicKeyCount >= 1);
        for (int i = 0; i < publicKeyCount; ++i) {
            rsa_key key;
            load_key(&key, PUBLIC_KEYS[i], keyFileSize);
            RsaKeyGuard guard(&key);
            QCOMPARE(
                QString::fromStdString(key_fingerprint(&key)), QString::fromLatin1(publicKeyFingerprints[i]));
        }

        const QString devKey =
            qEnvironmentVariable("CORVANE_TEST_BINARY_DIR") + QStringLiteral("/devkey/public.key");
        if (!QFileInfo::exists(devKey))
            QSKIP("The build embeds a publisher's key");
        const Result result = keytool(others.path(), {QStringLiteral("fingerprint"), devKey});
        QCOMPARE(result.out.section(QLatin1Char(' '), 0, 0), QString::fromLatin1(publicKeyFingerprints[0]));
    }
    void createSignVerifyRoundTrip_data()
    {
        QTest::addColumn<QStringList>("createOptions");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("keyFileSize"); // the key files cut to this size before signing
        const QByteArray ini("[client]\nversion=4711\n");
        QTest::newRow("default key, 3072 bits") << QStringList() << 3072 << ini << 4096;
        QTest::newRow("1024-bit key, empty file")
            << QStringList {QStringLiteral("--bits"), QStringLiteral("1024")} << 1024 << QByteArray() << 4096;
        QTest::newRow("key files of 2048 bytes from older tools")
            << QStringList {QStringLiteral("--bits"), QStringLiteral("1024")} << 1024 << ini << 2048;
    }

    void createSignVerifyRoundTrip()
    {
        QFETCH(QStringList, createOptions);
        QFETCH(int, bits);
        QFETCH(QByteArray, content);
        QFETCH(int, keyFileSize);
        QTemporaryDir dir;
        const QString d = dir.path();
        const Result created = keytool(d, QStringList {QStringLiteral("create")} + createOptions);
        QCOMPARE(created.exitCode, 0);
        QVERIFY2(created.out.contains(QStringLiteral("(%1-bit RSA)").arg(bits)), qPrintable(created.out));
        for (const char* name : {"/private.key", "/public.key"}) {
            QFile key(d + QLatin1String(name));
            QCOMPARE(key.size(), 4096);
            QVERIFY(key.resize(keyFileSize));
        }
        const Result described = keytool(d, {QStringLiteral("fingerprint"), QStringLiteral("private.key")});
        QVERIFY2(described.out.contains(QStringLiteral("(%1-bit RSA, private key)").arg(bits)),
            qPrintable(described.out + described.err));

        QVERIFY(TestFiles::write(d + QStringLiteral("/product.ini"), content));
        const Result signedFile = keytool(d, {QStringLiteral("sign"), QStringLiteral("product.ini")});
        QVERIFY2(signedFile.exitCode == 0, qPrintable(signedFile.err));
        QCOMPARE(QFileInfo(d + QStringLiteral("/product.ini.sig")).size(), bits / 8);
        QCOMPARE(QFileInfo(d + QStringLiteral("/product.ini.sig256")).size(), bits / 8);
        const Result verified = keytool(d, {QStringLiteral("verify"), QStringLiteral("product.ini")});
        QVERIFY2(verified.exitCode == 0, qPrintable(verified.err));
        QCOMPARE(verified.out, QStringLiteral("product.ini.sig256 verifies\nproduct.ini.sig verifies\n"));

        QVERIFY(TestFiles::write(d + QStringLiteral("/product.ini"), content + "x"));
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
        QTest::newRow("embed one key twice")
            << args("embed public.key public.key out.cpp") << 4 << "public.key is named twice";
        QTest::newRow("signature of 129 bytes") << args("verify long") << 1 << "129 bytes long";
        QTest::newRow("signature made with another key")
            << args("verify data --key other.key") << 1
            << "data.sig does not verify: the signature does not match this key";
        QTest::newRow("file changed after signing") << args(
            "verify changed") << 1 << "changed.sig does not verify: the file changed after it was signed";
        QTest::newRow("a bad .sig256 beside a good .sig")
            << args("verify halfgood") << 1
            << "halfgood.sig256 does not verify: the file changed after it was signed";
        QTest::newRow("fingerprint of a non-key") << args("fingerprint garbage.key") << 4 << "not a key file";
        QTest::newRow("fingerprint without key") << args("fingerprint") << 2 << "Expected one KEY file";
        QTest::newRow("import of a non-key") << args("import data out.key") << 4 << "not a DER RSA key";
        QTest::newRow("import of an empty file") << args("import empty out.key") << 4 << "not a DER RSA key";
        QTest::newRow("key size below 1024 bits")
            << args("create --force --bits 512") << 2 << "--bits takes a key size from 1024 to 4096 bits";
        QTest::newRow("key size above 4096 bits")
            << args("create --force --bits 8192") << 2 << "not \"8192\"";
        QTest::newRow("key size not in whole bytes")
            << args("create --force --bits 2047") << 2 << "a multiple of 8";
        QTest::newRow("key size not a number") << args("create --force --bits 3k") << 2 << "not \"3k\"";
        QTest::newRow("key size missing") << args("create --force --bits") << 2 << "--bits needs a number";
    }

    void badInputGivesItsExitCode()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString d = dir.path();
        QCOMPARE(keytool(d, quickCreate()).exitCode, 0);
        const QByteArray privateKey = TestFiles::read(d + QStringLiteral("/private.key"));
        QVERIFY(TestFiles::write(d + QStringLiteral("/data"), "payload"));
        QVERIFY(TestFiles::write(d + QStringLiteral("/unsigned"), "payload"));
        QVERIFY(TestFiles::write(d + QStringLiteral("/empty"), QByteArray()));
        QVERIFY(TestFiles::write(d + QStringLiteral("/long"), "payload"));
        QVERIFY(TestFiles::write(d + QStringLiteral("/long.sig"), QByteArray(129, 'x')));
        QVERIFY(TestFiles::write(d + QStringLiteral("/garbage.key"), QByteArray(2048, 'x')));
        QVERIFY(QFile::copy(otherPublicKey(), d + QStringLiteral("/other.key")));
        QCOMPARE(keytool(d, {QStringLiteral("sign"), QStringLiteral("data")}).exitCode, 0);
        QVERIFY(TestFiles::write(d + QStringLiteral("/changed"), "payload"));
        QCOMPARE(keytool(d, {QStringLiteral("sign"), QStringLiteral("changed")}).exitCode, 0);
        QVERIFY(TestFiles::write(d + QStringLiteral("/changed"), "payloaD"));
        QVERIFY(TestFiles::write(d + QStringLiteral("/halfgood"), "other payload"));
        QCOMPARE(keytool(d, {QStringLiteral("sign"), QStringLiteral("halfgood")}).exitCode, 0);
        QVERIFY(QFile::remove(d + QStringLiteral("/halfgood.sig256")));
        QVERIFY(QFile::copy(d + QStringLiteral("/changed.sig256"), d + QStringLiteral("/halfgood.sig256")));
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
