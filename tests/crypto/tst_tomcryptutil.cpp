// Key utilities: signing and verification round trips, key files, whole-file
// I/O and the exact exception texts callers show.
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
    QByteArray sig(int(KEY_FILE_SIZE), '\0');
    unsigned long sigLen = KEY_FILE_SIZE;
    sign_msg(key, bytes(data), ulong(data.size()), reinterpret_cast<unsigned char*>(sig.data()), &sigLen);
    sig.resize(qsizetype(sigLen));
    return sig;
}

// true or false from verify_msg; a thrown crypt_exception is recorded in thrown.
bool verifyWith(rsa_key* key, const QByteArray& data, QByteArray sig, QString* thrown)
{
    try {
        return verify_msg(key, bytes(data), ulong(data.size()), reinterpret_cast<unsigned char*>(sig.data()),
            ulong(sig.size()));
    } catch (const crypt_exception& e) {
        *thrown = QString::fromUtf8(e.what());
        return false;
    }
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
        create_key(&signer);
        create_key(&stranger);
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
        QTest::newRow("CRYPT_OK passes") << int(CRYPT_OK) << QString();
        QTest::newRow("invalid packet")
            << int(CRYPT_INVALID_PACKET) << QStringLiteral("rsa_verify_hash: Invalid input packet.");
        QTest::newRow("buffer overflow")
            << int(CRYPT_BUFFER_OVERFLOW) << QStringLiteral("rsa_verify_hash: Buffer overflow.");
    }

    void checkErr()
    {
        QFETCH(int, err);
        QFETCH(QString, expected);
        const QString text = exceptionText([&] { check_err("rsa_verify_hash", err); });
        QCOMPARE(text, expected.isEmpty() ? QStringLiteral("<nothing thrown>") : expected);
    }

    void signatureIsModulusLongAndVerifies()
    {
        const QByteArray data("[client]\nversion=4711\n");
        const QByteArray sig = signWith(&signer, data);
        QCOMPARE(sig.size(), 128);
        QString thrown;
        QVERIFY(verifyWith(&signer, data, sig, &thrown));
        QVERIFY(thrown.isEmpty());
        // PSS draws a fresh salt: two signatures of one text differ and both verify.
        const QByteArray again = signWith(&signer, data);
        QVERIFY(again != sig);
        QVERIFY(verifyWith(&signer, data, again, &thrown));
    }

    void tamperedInputFails_data()
    {
        QTest::addColumn<int>("dataByte"); // index of a data byte to flip, or -1
        QTest::addColumn<int>("sigByte"); // index of a signature byte to flip, or -1
        QTest::addColumn<int>("sigLength"); // signature cut or padded to this length, or -1
        QTest::addColumn<bool>("byStranger"); // verify with an unrelated key
        QTest::addColumn<QString>("how"); // "false", "throws", or "either" where the padding decides
        QTest::newRow("first data byte changed") << 0 << -1 << -1 << false << "false";
        QTest::newRow("last data byte changed") << 21 << -1 << -1 << false << "false";
        QTest::newRow("signature byte changed") << -1 << 64 << -1 << false << "either";
        QTest::newRow("signature of 127 bytes") << -1 << -1 << 127 << false << "throws";
        QTest::newRow("signature of 129 bytes") << -1 << -1 << 129 << false << "throws";
        QTest::newRow("signature by another key") << -1 << -1 << -1 << true << "either";
    }

    void tamperedInputFails()
    {
        QFETCH(int, dataByte);
        QFETCH(int, sigByte);
        QFETCH(int, sigLength);
        QFETCH(bool, byStranger);
        QFETCH(QString, how);
        QByteArray data("[client]\nversion=4711\n");
        QByteArray sig = signWith(&signer, data);
        if (dataByte >= 0)
            data[dataByte] = char(data[dataByte] ^ 0x01);
        if (sigByte >= 0)
            sig[sigByte] = char(sig[sigByte] ^ 0x01);
        if (sigLength >= 0)
            sig.resize(sigLength, '\0');
        QString thrown;
        QVERIFY(!verifyWith(byStranger ? &stranger : &signer, data, sig, &thrown));
        // A garbled signature decodes to random padding, which the library
        // mostly calls malformed (a throw) and rarely merely invalid.
        if (how == QLatin1String("throws") || (how == QLatin1String("either") && !thrown.isEmpty()))
            QVERIFY2(thrown.startsWith(QStringLiteral("rsa_verify_hash: ")), qPrintable(thrown));
        else if (how == QLatin1String("false"))
            QVERIFY2(thrown.isEmpty(), qPrintable(thrown));
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
        QCOMPARE(QFileInfo(QString::fromUtf8(keyFile)).size(), qint64(KEY_FILE_SIZE));

        rsa_key loaded;
        load_key(&loaded, keyFile.constData());
        RsaKeyGuard guard(&loaded);
        QCOMPARE(loaded.type, type);
        const QByteArray data("release 4711");
        QString thrown;
        if (type == PK_PUBLIC) {
            QVERIFY(verifyWith(&loaded, data, signWith(&signer, data), &thrown));
            QVERIFY(!verifyWith(&loaded, data, signWith(&stranger, data), &thrown));
        } else {
            QVERIFY(verifyWith(&signer, data, signWith(&loaded, data), &thrown));
        }
    }

    void badKeyFileFailsImport_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::addColumn<int>("cutKeyAt"); // instead: a real key file cut to this length
        QTest::newRow("missing file") << QByteArray() << -1;
        QTest::newRow("garbage") << QByteArray(2048, 'x') << -1;
        QTest::newRow("all zeros") << QByteArray(2048, '\0') << -1;
        QTest::newRow("key cut after 60 bytes") << QByteArray() << 60;
    }

    void badKeyFileFailsImport()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, cutKeyAt);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("k.key"));
        if (cutKeyAt >= 0) {
            save_key(&signer, PK_PUBLIC, QFile::encodeName(path).constData());
            QVERIFY(QFile::resize(path, cutKeyAt));
        } else if (!content.isEmpty()) {
            QVERIFY(TestFiles::write(path, content));
        }
        rsa_key key;
        const QString text = exceptionText([&] { load_key(&key, QFile::encodeName(path).constData()); });
        QVERIFY2(text.startsWith(QStringLiteral("rsa_import: ")), qPrintable(text));
    }

    void readFileReturnsWholeContent_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("empty file") << 0;
        QTest::newRow("one byte") << 1;
        QTest::newRow("exactly one chunk") << 2048;
        QTest::newRow("exactly two chunks") << 4096;
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
        const QByteArray missingDir = QFile::encodeName(dir.filePath(QStringLiteral("no/such/f.bin")));
        unsigned char byte = 0;
        QCOMPARE(exceptionText([&] { write_file(missingDir.constData(), &byte, 1); }),
            QStringLiteral("Cannot open file for writing: ") + QString::fromUtf8(missingDir));
        QCOMPARE(exceptionText([&] { save_key(&signer, PK_PUBLIC, missingDir.constData()); }),
            QStringLiteral("Cannot open file for writing: ") + QString::fromUtf8(missingDir));
        unsigned char* data = nullptr;
        unsigned long len = 0;
        QCOMPARE(exceptionText([&] { read_file(missingDir.constData(), &data, &len); }),
            QStringLiteral("Cannot open file for reading: ") + QString::fromUtf8(missingDir));
        free(data);
    }

    void writeFileReplacesContent()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f.bin"));
        QVERIFY(TestFiles::write(path, QByteArray(5000, 'a')));
        QByteArray content("short");
        write_file(QFile::encodeName(path).constData(), reinterpret_cast<unsigned char*>(content.data()),
            ulong(content.size()));
        QCOMPARE(TestFiles::read(path), content);
    }

private:
    rsa_key signer;
    rsa_key stranger;
};

QTEST_GUILESS_MAIN(TestTomCryptUtil)
#include "tst_tomcryptutil.moc"
