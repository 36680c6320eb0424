// The keys found in the raw text of an INI file are the ones the settings
// reader makes of it, the keys listed twice are found however they are
// spelt, and the sections read from the raw text are the reader's own.
#include "release/inikeyscan.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include "inisections.h"

namespace {

QString writeIni(const QTemporaryDir& dir, const QByteArray& ini)
{
    const QString path = dir.filePath(QStringLiteral("product.ini"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(ini) != ini.size())
        return {};
    return path;
}

// The file as the settings reader writes these keys and values.
QByteArray writtenBySettings(const QList<std::pair<QString, QString>>& values)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("written.ini"));
    {
        QSettings settings(path, QSettings::IniFormat);
        for (const auto& [key, value] : values)
            settings.setValue(key, value);
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestIniKeyScan : public QObject {
    Q_OBJECT

private slots:
    void findsTheReadersKeys_data();
    void findsTheReadersKeys();
    void readsTheReadersSections_data();
    void readsTheReadersSections();
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
    const QString path = writeIni(dir, ini);
    QVERIFY(!path.isEmpty());
    QSettings settings(path, QSettings::IniFormat);
    QStringList read = settings.allKeys();
    read.sort();

    QStringList scanned = IniKeyScan::keys(ini);
    scanned.sort();
    scanned.erase(std::unique(scanned.begin(), scanned.end()), scanned.end());
    QCOMPARE(scanned, read);
    QCOMPARE(IniKeyScan::repeatedKeys(ini), repeated);
}

void TestIniKeyScan::readsTheReadersSections_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("plain");

    QTest::newRow("sections and keys out of order, a key twice")
        << QByteArray("[b]\nz=1\ny=2\n[a]\nx=3\n[b]\na=4\nz=5\n") << true;
    QTest::newRow("blanks around values kept inside")
        << QByteArray("[f]\na= \t one two \t\nb=\nc=x=y\n") << true;
    QTest::newRow("comments, CR LF, byte order mark, General")
        << QByteArray("\xef\xbb\xbfx=0\r\n[General]\r\nlib/a=1\r\n[f]\r\n; c=2\r\nd=3 ; e=4\r\n") << true;
    QTest::newRow("nested sections and keys") << QByteArray("[a]\nb/c=1\n[a/b]\nd=2\n[a-b]\ne=3\n") << true;
    QTest::newRow("escaped keys and UTF-8 values")
        << QByteArray("[f]\nmy%20file=caf\xc3\xa9\n%U00FC\\x=1\nStra%DFe=2\n") << true;
    QTest::newRow("the writer's spelling of names with blanks and letters beyond ASCII") << writtenBySettings(
        {{QStringLiteral("files/Dämon Spiel/d a.pak"), QStringLiteral("0a::3::b c/ä ö.pak")},
            {QStringLiteral("files/x"), QStringLiteral("1::2")}}) << true;
    QTest::newRow("a quoted value") << QByteArray("[f]\na=\"x ; y\"\nb=1\n") << false;
    QTest::newRow("a value with a comma") << QByteArray("[f]\na=x, y\n") << false;
    QTest::newRow("the writer's quotes around a comma")
        << writtenBySettings({{QStringLiteral("files/a"), QStringLiteral("0a::3::a,b.txt")}}) << false;
    QTest::newRow("an escape in a value") << QByteArray("[f]\na=x\\ty\n") << false;
    QTest::newRow("a value the reader reads as bytes") << QByteArray("[f]\na=@ByteArray(x)\n") << false;
    QTest::newRow("an empty key component") << QByteArray("[f]\na//b=1\n") << false;
    QTest::newRow("a section line with text after it") << QByteArray("[f]x\na=1\n") << false;
    QTest::newRow("bytes that are not UTF-8") << QByteArray("[f]\na=\xc3 \n") << false;
}

// Where the scan reads the sections itself, it reads what the reader reads,
// key for key, value for value, in the reader's order; elsewhere it leaves
// the file to the reader.
void TestIniKeyScan::readsTheReadersSections()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, plain);
    QTemporaryDir dir;
    const QString path = writeIni(dir, ini);
    QVERIFY(!path.isEmpty());

    QStringList repeated;
    const std::optional<std::vector<IniKeyScan::SectionEntry>> entries =
        IniKeyScan::plainSectionEntries(ini, &repeated);
    QCOMPARE(entries.has_value(), plain);
    if (!plain)
        return;
    QCOMPARE(IniSections::asScanned(*entries), IniSections::asRead(path));
    QCOMPARE(repeated, IniKeyScan::repeatedKeys(ini));
}

QTEST_GUILESS_MAIN(TestIniKeyScan)
#include "tst_inikeyscan.moc"
