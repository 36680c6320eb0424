// Publishers may make keys and signatures with the openssl command line: the
// key utilities must accept them once converted into the key-file form, and
// what they sign must verify in openssl.
#include "crypto/tomcryptutil.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <tomcrypt.h>

#include "testfiles.h"

namespace {

// Runs openssl in dir; the exit code, or -1 when it did not run to its end.
int openssl(const QString& dir, const QStringList& args, QByteArray* errors = nullptr)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(QStandardPaths::findExecutable(QStringLiteral("openssl")), args);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (errors)
        *errors = process.readAllStandardError();
    return process.exitCode();
}

QStringList words(const char* line)
{
    return QString::fromLatin1(line).split(QLatin1Char(' '));
}

} // namespace

class TestOpenSslInterop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            QSKIP("openssl is not installed (scripts/setup.sh installs it)");
        crypt_init();
    }

    void opensslSignatureVerifies_data()
    {
        QTest::addColumn<QString>("exportPublic"); // openssl arguments writing pub.der from key.pem
        QTest::addColumn<QString>("saltLength");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QString>("digest"); // sha1 for a .sig, sha256 for a .sig256
        const QString pkcs1 = QStringLiteral("rsa -in key.pem -RSAPublicKey_out -outform DER -out pub.der");
        const QString spki = QStringLiteral("rsa -in key.pem -pubout -outform DER -out pub.der");
        QTest::newRow("PKCS #1 public key, 8-byte salt") << pkcs1 << "8" << true << 1024 << "sha1";
        QTest::newRow("SubjectPublicKeyInfo, 8-byte salt") << spki << "8" << true << 1024 << "sha1";
        QTest::newRow("3072-bit key") << pkcs1 << "8" << true << 3072 << "sha1";
        QTest::newRow("4096-bit SubjectPublicKeyInfo") << spki << "8" << true << 4096 << "sha1";
        // openssl's default salt is not ours; a publisher must ask for 8 bytes.
        QTest::newRow("salt as long as the digest is refused")
            << pkcs1 << "digest" << false << 1024 << "sha1";
        QTest::newRow("SHA-256, 32-byte salt") << pkcs1 << "32" << true << 3072 << "sha256";
        QTest::newRow("SHA-256 with the salt of SHA-1 signatures is refused")
            << pkcs1 << "8" << false << 2048 << "sha256";
    }

    void opensslSignatureVerifies()
    {
        QFETCH(QString, exportPublic);
        QFETCH(QString, saltLength);
        QFETCH(bool, valid);
        QFETCH(int, bits);
        QFETCH(QString, digest);
        QTemporaryDir dir;
        const QString d = dir.path();
        QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("product.ini")), "[client]\nversion=4711\n"));
        QCOMPARE(openssl(d, words("genrsa -out key.pem") << QString::number(bits)), 0);
        QCOMPARE(openssl(d, exportPublic.split(QLatin1Char(' '))), 0);
        QCOMPARE(openssl(d,
                     QStringList {QStringLiteral("dgst"), QLatin1Char('-') + digest}
                         << words("-sign key.pem -sigopt rsa_padding_mode:pss -out product.ini.sig -sigopt")
                         << QStringLiteral("rsa_pss_saltlen:") + saltLength << QStringLiteral("product.ini")),
            0);

        // The key tool converts what openssl wrote into the key-file form.
        QProcess import;
        import.setWorkingDirectory(d);
        import.start(QStringLiteral(CORVANE_KEYTOOL), words("import pub.der public.key"));
        QVERIFY(import.waitForFinished(30000));
        QCOMPARE(import.exitCode(), 0);

        rsa_key key;
        load_key(&key, QFile::encodeName(dir.filePath(QStringLiteral("public.key"))).constData());
        RsaKeyGuard guard(&key);
        const QByteArray data = TestFiles::read(dir.filePath(QStringLiteral("product.ini")));
        QByteArray sig = TestFiles::read(dir.filePath(QStringLiteral("product.ini.sig")));
        QCOMPARE(sig.size(), bits / 8);
        bool verified = false;
        try {
            verified = verify_msg(&key, reinterpret_cast<const unsigned char*>(data.constData()),
                ulong(data.size()), reinterpret_cast<unsigned char*>(sig.data()), ulong(sig.size()),
                digest == QLatin1String("sha256") ? SignatureHash::Sha256 : SignatureHash::Sha1);
        } catch (const crypt_exception&) {
            verified = false;
        }
        QCOMPARE(verified, valid);
    }

    void ourSignatureVerifiesInOpenssl_data()
    {
        QTest::addColumn<int>("opensslBits"); // 0: the key is made here
        QTest::addColumn<QString>("digest");
        QTest::newRow("key made here") << 0 << "sha1";
        // About 2350 bytes of DER, more than the key files of older tools held.
        QTest::newRow("4096-bit private key from openssl, imported") << 4096 << "sha1";
        QTest::newRow("SHA-256 signature, key made here") << 0 << "sha256";
    }

    void ourSignatureVerifiesInOpenssl()
    {
        QFETCH(int, opensslBits);
        QFETCH(QString, digest);
        const SignatureHash hash =
            digest == QLatin1String("sha256") ? SignatureHash::Sha256 : SignatureHash::Sha1;
        QTemporaryDir dir;
        const QString d = dir.path();
        rsa_key key;
        if (opensslBits == 0) {
            create_key(&key);
            save_key(
                &key, PK_PRIVATE, QFile::encodeName(dir.filePath(QStringLiteral("private.key"))).constData());
        } else {
            QCOMPARE(openssl(d, words("genrsa -out key.pem") << QString::number(opensslBits)), 0);
            QCOMPARE(openssl(d, words("rsa -in key.pem -traditional -outform DER -out key.der")), 0);
            QProcess import;
            import.setWorkingDirectory(d);
            import.start(QStringLiteral(CORVANE_KEYTOOL), words("import key.der private.key"));
            QVERIFY(import.waitForFinished(30000));
            QVERIFY2(import.exitCode() == 0, import.readAllStandardError().constData());
            load_key(&key, QFile::encodeName(dir.filePath(QStringLiteral("private.key"))).constData());
        }
        RsaKeyGuard guard(&key);
        save_key(&key, PK_PUBLIC, QFile::encodeName(dir.filePath(QStringLiteral("public.key"))).constData());
        const QByteArray data("[client]\nversion=4711\n");
        QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("product.ini")), data));
        QByteArray sig(int(keyFileSize), '\0');
        unsigned long sigLen = keyFileSize;
        sign_msg(&key, reinterpret_cast<const unsigned char*>(data.constData()), ulong(data.size()),
            reinterpret_cast<unsigned char*>(sig.data()), &sigLen, hash);
        QVERIFY(
            TestFiles::write(dir.filePath(QStringLiteral("product.ini.sig")), sig.left(qsizetype(sigLen))));

        // openssl reads both key files as they are: its DER parser stops at
        // the end of the structure and ignores the padding.
        QByteArray errors;
        QCOMPARE(openssl(d, words("rsa -inform DER -in private.key -check -noout"), &errors), 0);
        QCOMPARE(openssl(d, words("rsa -RSAPublicKey_in -inform DER -in public.key -pubout -out pub.pem"),
                     &errors),
            0);
        const QString salt = hash == SignatureHash::Sha256 ? QStringLiteral("32") : QStringLiteral("8");
        QCOMPARE(openssl(d,
                     QStringList {QStringLiteral("dgst"), QLatin1Char('-') + digest}
                         << words("-verify pub.pem -sigopt rsa_padding_mode:pss -sigopt")
                         << QStringLiteral("rsa_pss_saltlen:") + salt
                         << words("-signature product.ini.sig product.ini"),
                     &errors),
            0);
    }

    // A publisher can check a fingerprint with openssl alone: SHA-256 of the
    // PKCS #1 public key, in base64 without padding.
    void fingerprintMatchesOpenssl()
    {
        QTemporaryDir dir;
        const QString d = dir.path();
        QCOMPARE(openssl(d, words("genrsa -out key.pem 2048")), 0);
        QCOMPARE(openssl(d, words("rsa -in key.pem -RSAPublicKey_out -outform DER -out pub.der")), 0);
        QCOMPARE(openssl(d, words("dgst -sha256 -binary -out digest.bin pub.der")), 0);
        const QByteArray expected = "SHA256:"
            + TestFiles::read(dir.filePath(QStringLiteral("digest.bin")))
                  .toBase64(QByteArray::OmitTrailingEquals);

        QProcess keytool;
        keytool.setWorkingDirectory(d);
        keytool.start(QStringLiteral(CORVANE_KEYTOOL), words("import pub.der public.key"));
        QVERIFY(keytool.waitForFinished(30000));
        QCOMPARE(keytool.exitCode(), 0);
        keytool.start(QStringLiteral(CORVANE_KEYTOOL), words("fingerprint public.key"));
        QVERIFY(keytool.waitForFinished(30000));
        QCOMPARE(keytool.readAllStandardOutput().split(' ').first(), expected);
    }
};

QTEST_GUILESS_MAIN(TestOpenSslInterop)
#include "tst_opensslinterop.moc"
