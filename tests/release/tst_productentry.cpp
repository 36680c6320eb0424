// The value of a file entry of the product ini: which texts are entries, what
// they hold, and the text written back for them.
#include "release/productentry.h"

#include <QTest>

class TestProductEntry : public QObject {
    Q_OBJECT

private slots:
    void readsEntries_data();
    void readsEntries();
};

void TestProductEntry::readsEntries_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint64>("size");
    QTest::addColumn<quint64>("unpackedSize");
    QTest::addColumn<QString>("unpackedName");
    QTest::addColumn<QString>("written"); // what toText() gives for it

    const QString d = QStringLiteral("0123456789abcdef0123456789abcdef");
    const QString e = QStringLiteral("fedcba9876543210fedcba9876543210");
    const auto good = [](const char* name, const QString& value, quint64 size, quint64 unpackedSize,
                          const QString& unpackedName, const QString& written) {
        QTest::newRow(name) << value << true << size << unpackedSize << unpackedName << written;
    };
    const auto bad = [](const char* name, const QString& value) {
        QTest::newRow(name) << value << false << quint64(0) << quint64(0) << QString() << QString();
    };

    good("plain", d + "::1234", 1234, 0, {}, d + "::1234");
    good("packed", d + "::73::" + e + "::1680::docs/readme.txt", 73, 1680, "docs/readme.txt",
        d + "::73::" + e + "::1680::docs/readme.txt");
    good("upper-case digest kept as listed", d.toUpper() + "::1", 1, 0, {}, d.toUpper() + "::1");
    good("empty file", d + "::0", 0, 0, {}, d + "::0");
    good("largest signed size", d + "::9223372036854775807", 9223372036854775807ULL, 0, {},
        d + "::9223372036854775807");
    good("leading zeros read as the number", d + "::0000000000000000000007", 7, 0, {}, d + "::7");
    good("single colons and blanks in the unpacked name", d + "::1::" + e + "::2::a:b c:.txt", 1, 2,
        "a:b c:.txt", d + "::1::" + e + "::2::a:b c:.txt");

    bad("one field", d);
    bad("three fields", d + "::1::2");
    bad("six fields", d + "::1::" + e + "::2::b::x");
    bad("unpacked name holding the separator", d + "::1::" + e + "::2::a::b.txt");
    // A digest that can never match would get every mirror dropped for
    // delivering exactly the file the product ini describes.
    bad("empty digest", "::0");
    bad("digest not hexadecimal", d.left(31) + "g::1");
    bad("digest too short", d.left(31) + "::1");
    bad("digest too long", d + "0::1");
    bad("size not a number", d + "::12k");
    bad("size negative", d + "::-1");
    bad("size with a sign", d + "::+1");
    bad("size with a blank", d + ":: 1");
    bad("size empty", d + "::");
    bad("size beyond 63 bits", d + "::9223372036854775808");
    bad("packed without unpacked name", d + "::1::" + e + "::1::");
    bad("packed with bad unpacked digest", d + "::1::xyz::1::b");
    bad("packed with bad unpacked size", d + "::1::" + e + "::1.5::b");
}

void TestProductEntry::readsEntries()
{
    QFETCH(QString, value);
    QFETCH(bool, valid);

    const std::optional<ProductEntry> entry = ProductEntry::parse(value);
    QCOMPARE(entry.has_value(), valid);
    if (!valid)
        return;
    QFETCH(quint64, size);
    QFETCH(quint64, unpackedSize);
    QFETCH(QString, unpackedName);
    QFETCH(QString, written);
    const QStringList fields = value.split(QStringLiteral("::"));
    QCOMPARE(entry->md5, fields.at(0));
    QCOMPARE(entry->size, size);
    QCOMPARE(entry->isPacked(), !unpackedName.isEmpty());
    QCOMPARE(entry->unpackedMd5, entry->isPacked() ? fields.at(2) : QString());
    QCOMPARE(entry->unpackedSize, unpackedSize);
    QCOMPARE(entry->unpackedName, unpackedName);
    QCOMPARE(entry->toText(), written);
    QVERIFY(ProductEntry::parse(written) == entry);
}

QTEST_GUILESS_MAIN(TestProductEntry)
#include "tst_productentry.moc"
