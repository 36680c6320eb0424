// The keys found in the raw text of an INI file are the ones the settings
// reader makes of it, and the keys listed twice are found however they are
// spelt.
#include "release/inikeyscan.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

class TestIniKeyScan : public QObject {
    Q_OBJECT

private slots:
    void findsTheReadersKeys_data();
    void findsTheReadersKeys();
};

void TestIniKeyScan::findsTheReadersKeys_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("repeated");

    const QStringList none;
    QTest::newRow("one key twice") << QByteArray("[files]\na=1\nb=1\na=2\n") << QStringList {"files/a"};
    QTest::newRow("a section in two parts")
        << QByteArray("[files]\na=1\n[other]\na=1\n[files]\na=2\n") << QStringList {"files/a"};
    QTest::newRow("escaped and plain separator")
        << QByteArray("[files]\na%2Fb=1\na\\b=2\nx/y=1\nx%2fy=2\n") << QStringList {"files/a/b", "files/x/y"};
    QTest::newRow("letters escaped and as they are")
        << QByteArray("[files]\nStra\xc3\x9f"
                      "e=1\nStra%DFe=2\n%U00FC=1\n\xc3\xbc=2\n")
        << QStringList {QStringLiteral("files/Straße"), QStringLiteral("files/ü")};
    QTest::newRow("blanks around the key")
        << QByteArray("[files]\n a \t=1\na=2\n") << QStringList {"files/a"};
    QTest::newRow("one path from a section and from a key")
        << QByteArray("[a]\nb/c=1\n[a/b]\nc=2\n") << QStringList {"a/b/c"};
    QTest::newRow("outside any section, read into one")
        << QByteArray("files/a=1\n[files]\na=2\n") << QStringList {"files/a"};
    QTest::newRow("outside any section and in General: not read")
        << QByteArray("x=1\n[General]\nx=2\n[files]\na=1\n") << none;
    QTest::newRow("letter case tells keys apart") << QByteArray("[files]\nA=1\na=2\n") << none;
    QTest::newRow("line ends of CR and LF, byte order mark")
        << QByteArray("\xef\xbb\xbf[files]\r\na=1\r\na=2\r\n") << QStringList {"files/a"};
    QTest::newRow("comment lines and comments after a value")
        << QByteArray("[files]\n; a=1\na=\"x;y\" ; a=2\nb=1 ; b=2\n") << none;
    QTest::newRow("a quoted value across lines") << QByteArray("[files]\na=\"x\nb=2\"\nb=3\n") << none;
    QTest::newRow("an escaped line end") << QByteArray("[files]\na=x\\\na=2\nb=1\n") << none;
    QTest::newRow("a percent sign that starts no escape")
        << QByteArray("[files]\n100%=1\n50%zz=1\n100%=2\n") << QStringList {"files/100%"};
}

// Whatever the scan finds, the reader must find the same keys; the repeats
// are what it merged silently.
void TestIniKeyScan::findsTheReadersKeys()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, repeated);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("product.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size());
    file.close();
    QSettings settings(path, QSettings::IniFormat);
    QStringList read = settings.allKeys();
    read.sort();

    QStringList scanned = IniKeyScan::keys(ini);
    scanned.sort();
    scanned.erase(std::unique(scanned.begin(), scanned.end()), scanned.end());
    QCOMPARE(scanned, read);
    QCOMPARE(IniKeyScan::repeatedKeys(ini), repeated);
}

QTEST_GUILESS_MAIN(TestIniKeyScan)
#include "tst_inikeyscan.moc"
