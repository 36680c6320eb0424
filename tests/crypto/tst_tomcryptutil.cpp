// Key utilities: signing and verification, key files, whole-file reading and
// the exact exception texts callers show.
#include "crypto/tomcryptutil.h"

#include <functional>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <tomcrypt.h>

#include "testfiles.h"

namespace {

const unsigned char* bytes(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

QByteArray signWith(rsa_key* key, const QByteArray& data)
{
    QByteArray sig(int(keyFileSize), '\0');
    unsigned long sigLen = keyFileSize;
    sign_msg(key, bytes(data), ulong(data.size()), reinterpret_cast<unsigned char*>(sig.data()), &sigLen);
    return sig.left(qsizetype(sigLen));
}

QString exceptionText(const std::function<void()>& call)
{
    try {
        call();
    } catch (const crypt_exception& e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("<nothing thrown>");
}

} // namespace

class TestTomCryptUtil : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Before the math provider is chosen a key operation must fail, not crash.
        rsa_key key;
        QCOMPARE(exceptionText([&] { create_key(&key); }), QStringLiteral("crypt_init has not been called"));
        crypt_init();
        crypt_init(); // every update calls it again; nothing may change
        create_key(&signer, minKeyBits); // small keys are made quickly
        create_key(&stranger, minKeyBits);
    }

    void cleanupTestCase()
    {
        rsa_free(&signer);
        rsa_free(&stranger);
    }

    void checkErr_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<QString>("expected");
        QTest::newRow("CRYPT_OK passes") << int(CRYPT_OK) << "<nothing thrown>";
        QTest::newRow("invalid packet") << int(CRYPT_INVALID_PACKET) << "rsa_import: Invalid input packet.";
        QTest::newRow("buffer overflow") << int(CRYPT_BUFFER_OVERFLOW) << "rsa_import: Buffer overflow.";
    }

    void checkErr()
    {
        QFETCH(int, err);
        QFETCH(QString, expected);
        QCOMPARE(exceptionText([&] { check_err("rsa_import", err); }), expected);
    }

    void verifyVerdicts_data()
    {
        QTest::addColumn<int>("dataByte"); // index of a data byte to flip, or -1
        QTest::addColumn<int>("sigLength"); // signature cut or padded to this length, or -1
        QTest::addColumn<bool>("byStranger"); // signed by an unrelated key
        QTest::addColumn<QString>("outcome"); // "valid", "invalid" or "throws"
        QTest::newRow("untouched") << -1 << -1 << false << "valid";
        QTest::newRow("one data byte changed") << 21 << -1 << false << "invalid";
        QTest::newRow("signature shorter than the modulus") << -1 << 127 << false << "throws";
        // Decodes to random padding: malformed nearly always, merely invalid rarely.
        QTest::newRow("signature by another key") << -1 << -1 << true << "not valid";
    }

    void verifyVerdicts()
    {
        QFETCH(int, dataByte);
        QFETCH(int, sigLength);
        QFETCH(bool, byStranger);
        QFETCH(QString, outcome);
        QByteArray data("[client]\nversion=4711\n");
        QByteArray sig = signWith(byStranger ? &stranger : &signer, data);
        QCOMPARE(sig.size(), 128);
        if (dataByte >= 0)
            data[dataByte] = char(data[dataByte] ^ 0x01);
        if (sigLength >= 0)
            sig.resize(sigLength, '\0');
        bool valid = false;
        const QString thrown = exceptionText([&] {
            valid = verify_msg(&signer, bytes(data), ulong(data.size()),
                reinterpret_cast<unsigned char*>(sig.data()), ulong(sig.size()));
        });
        if (outcome == QLatin1String("valid") || outcome == QLatin1String("invalid")) {
            QCOMPARE(thrown, QStringLiteral("<nothing thrown>"));
            QCOMPARE(valid, outcome == QLatin1String("valid"));
        } else if (outcome == QLatin1String("throws")) {
            QVERIFY2(thrown.startsWith(QStringLiteral("rsa_verify_hash: ")), qPrintable(thrown));
        } else {
            QVERIFY(!valid);
        }
    }

    void savedKeyFileRoundTrip_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("public half verifies") << int(PK_PUBLIC);
        QTest::newRow("private half signs") << int(PK_PRIVATE);
    }

    void savedKeyFileRoundTrip()
    {
        QFETCH(int, type);
        QTemporaryDir dir;
        const QByteArray keyFile = QFile::encodeName(dir.filePath(QStringLiteral("saved.key")));
        save_key(&signer, type, keyFile.constData());
        QCOMPARE(QFileInfo(QString::fromUtf8(keyFile)).size(), qint64(keyFileSize));

        rsa_key loaded;
        load_key(&loaded, keyFile.constData());
        RsaKeyGuard guard(&loaded);
        QCOMPARE(loaded.type, type);
        const QByteArray data("release 4711");
        QByteArray sig = signWith(type == PK_PRIVATE ? &loaded : &signer, data);
        rsa_key* verifier = type == PK_PUBLIC ? &loaded : &signer;
        QVERIFY(verify_msg(verifier, bytes(data), ulong(data.size()),
            reinterpret_cast<unsigned char*>(sig.data()), ulong(sig.size())));
    }

    void readFileReturnsWholeContent_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("empty file") << 0;
        QTest::newRow("exactly one chunk") << 2048;
        QTest::newRow("5000 bytes") << 5000;
    }

    void readFileReturnsWholeContent()
    {
        QFETCH(int, size);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f.bin"));
        QByteArray content(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            content[i] = char(i * 7 + i / 256);
        QVERIFY(TestFiles::write(path, content));
        unsigned char* data = nullptr;
        unsigned long len = 4711;
        read_file(QFile::encodeName(path).constData(), &data, &len);
        QVERIFY(data != nullptr); // even an empty file leaves a block to free
        const QByteArray got(reinterpret_cast<const char*>(data), qsizetype(len));
        free(data);
        QCOMPARE(got, content);
    }

    void fileErrorsNameThePath()
    {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("no/such/f.bin")));
        const QString name = QString::fromUtf8(path);
        unsigned char byte = 0;
        QCOMPARE(exceptionText([&] { write_file(path.constData(), &byte, 1); }),
            QStringLiteral("Cannot open file for writing: ") + name);
        QCOMPARE(exceptionText([&] { save_key(&signer, PK_PUBLIC, path.constData()); }),
            QStringLiteral("Cannot open file for writing: ") + name);
        unsigned char* data = nullptr;
        unsigned long len = 0;
        QCOMPARE(exceptionText([&] { read_file(path.constData(), &data, &len); }),
            QStringLiteral("Cannot open file for reading: ") + name);
    }

private:
    rsa_key signer;
    rsa_key stranger;
};

QTEST_GUILESS_MAIN(TestTomCryptUtil)
#include "tst_tomcryptutil.moc"
