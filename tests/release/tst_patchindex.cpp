// The patch index: which values are patch entries, which files are indexes,
// and that what the publisher writes reads back the same, odd names included.
#include "release/patchindex.h"

#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString a = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString b = QStringLiteral("fedcba9876543210fedcba9876543210");
const QString c = QStringLiteral("00112233445566778899aabbccddeeff");

PatchEntry entry(const QString& target, const QString& patchPath)
{
    PatchEntry patch;
    patch.target = target;
    patch.baseMd5 = a;
    patch.baseSize = 1000;
    patch.targetMd5 = b;
    patch.patchMd5 = c;
    patch.patchSize = 12;
    patch.patchPath = patchPath;
    return patch;
}

} // namespace

class TestPatchIndex : public QObject {
    Q_OBJECT

private slots:
    void readsEntries_data();
    void readsEntries();
    void readsIndexFiles_data();
    void readsIndexFiles();
    void writesWhatItReads();
};

void TestPatchIndex::readsEntries_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("valid");

    const QString fields = a + "::1000::" + b + "::" + c + "::12::";
    QTest::newRow("entry") << "data/level.dat" << fields + "patches/1/data/level.dat" << true;
    QTest::newRow("single colons in the patch path") << "a:b" << fields + "patches/1/a:b" << true;
    QTest::newRow("five fields") << "x" << a + "::1000::" + b + "::" + c + "::12" << false;
    QTest::newRow("seven fields") << "x" << fields + "p::q" << false;
    QTest::newRow("bad base digest") << "x"
                                     << "xyz::1000::" + b + "::" + c + "::12::p" << false;
    QTest::newRow("bad patch size") << "x" << a + "::1000::" + b + "::" + c + "::-12::p" << false;
    QTest::newRow("patch path leading upwards") << "x" << fields + "../2/client/x" << false;
    QTest::newRow("absolute patch path") << "x" << fields + "/etc/passwd" << false;
    QTest::newRow("control character in the patch path") << "x" << fields + "p\nq" << false;
    QTest::newRow("target leading upwards") << "../x" << fields + "p" << false;
}

void TestPatchIndex::readsEntries()
{
    QFETCH(QString, target);
    QFETCH(QString, value);
    QFETCH(bool, valid);
    const std::optional<PatchEntry> patch = PatchEntry::parse(target, value);
    QCOMPARE(patch.has_value(), valid);
    if (valid) {
        QCOMPARE(patch->toText(), value);
        QCOMPARE(patch->baseSize, quint64(1000));
        QCOMPARE(patch->patchSize, quint64(12));
    }
}

void TestPatchIndex::readsIndexFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("patches"); // -1: refused

    const QByteArray line =
        "data\\level.dat=" + (a + "::1000::" + b + "::" + c + "::12::p/1/l").toUtf8() + "\n";
    QTest::newRow("two earlier versions") << "[1]\n" + line + "[2]\n" + line << 2;
    QTest::newRow("empty file") << QByteArray() << 0;
    QTest::newRow("section not a version") << "[one]\n" + line << -1;
    QTest::newRow("version zero") << "[0]\n" + line << -1;
    QTest::newRow("key outside any section") << line << -1;
    QTest::newRow("one bad line refuses all") << "[1]\n" + line + "other.dat=nonsense\n" << -1;
}

void TestPatchIndex::readsIndexFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(int, patches);
    QTemporaryDir dir;
    QVERIFY(TestFiles::write(dir.filePath("index.ini"), text));
    QString problem;
    const std::optional<PatchIndex> index = PatchIndex::read(dir.filePath("index.ini"), &problem);
    QCOMPARE(index.has_value(), patches >= 0);
    QCOMPARE(problem.isEmpty(), patches >= 0);
    if (index) {
        QCOMPARE(index->size(), patches);
        QCOMPARE(index->patchesOf(QStringLiteral("data/level.dat")).size(), patches);
    }
}

void TestPatchIndex::writesWhatItReads()
{
    PatchIndex index;
    index.add(7,
        entry(QStringLiteral("docs/Straße 7/Überblick #1, neu.txt"),
            "patches/7/docs/Straße 7/Überblick #1, neu.txt"));
    index.add(7, entry(QStringLiteral("a;b=c.dat"), QStringLiteral("patches/7/a;b=c.dat")));
    index.add(12, entry(QStringLiteral("lib/x.so"), QStringLiteral("patches/12/lib/x.so")));
    QTemporaryDir dir;
    QString error;
    QVERIFY2(index.write(dir.filePath("index.ini"), &error), qPrintable(error));
    const std::optional<PatchIndex> readBack = PatchIndex::read(dir.filePath("index.ini"), &error);
    QVERIFY(readBack);
    QCOMPARE(readBack->sections(), index.sections());
    QCOMPARE(readBack->patchesOf(QStringLiteral("lib/x.so")).value(0).patchPath,
        QStringLiteral("patches/12/lib/x.so"));
}

QTEST_GUILESS_MAIN(TestPatchIndex)
#include "tst_patchindex.moc"
