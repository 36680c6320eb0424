// Binary patches on real files: what a patch turns a file into, that the
// stock zstd tool and we read each other's patches, that a large file's
// segmented patch still comes out small, and that a patch that does not fit
// leaves nothing behind.
#include "release/deltapatch.h"

#include "testfiles.h"
#include "toolprocess.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// data with a few blocks overwritten all over it and fresh bytes inserted
// at a third: what a new version of a big data file looks like.
QByteArray edited(QByteArray data, quint32 seed)
{
    const qint64 step = qMax<qint64>(data.size() / 8, 1);
    for (qint64 at = step / 2; at + 64 < data.size(); at += step)
        data.replace(at, 64, TestFiles::noise(64, seed++));
    data.insert(data.size() / 3, TestFiles::noise(1000, seed));
    return data;
}

QString zstdTool()
{
    return QStandardPaths::findExecutable(QStringLiteral("zstd"));
}

} // namespace

class TestDeltaPatch : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(dir.isValid()); }

    void turnsBaseIntoTarget_data();
    void turnsBaseIntoTarget();
    void readsAndWritesTheStockToolsPatches_data();
    void readsAndWritesTheStockToolsPatches();
    void refusesWhatDoesNotFit_data();
    void refusesWhatDoesNotFit();

private:
    QString path(const QString& name) const { return dir.filePath(name); }
    // Makes the patch from base to target with the window limit and returns its size, or -1.
    qint64 makePatch(const QByteArray& base, const QByteArray& target, int windowLogLimit);

    QTemporaryDir dir;
};

qint64 TestDeltaPatch::makePatch(const QByteArray& base, const QByteArray& target, int windowLogLimit)
{
    if (!TestFiles::write(path("base"), base) || !TestFiles::write(path("target"), target))
        return -1;
    DeltaPatch::MakeOptions options;
    options.windowLogLimit = windowLogLimit;
    QByteArray md5;
    quint64 size = 0;
    QString error;
    if (!DeltaPatch::make(path("base"), path("target"), path("patch"), options, &md5, &size, &error)) {
        qWarning("%s", qPrintable(error));
        return -1;
    }
    if (md5 != TestFiles::md5Hex(TestFiles::read(path("patch")))
        || qint64(size) != QFileInfo(path("patch")).size())
        return -1;
    return qint64(size);
}

void TestDeltaPatch::turnsBaseIntoTarget_data()
{
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("windowLogLimit");
    QTest::addColumn<qint64>("mostPatchBytes");

    const QByteArray data = TestFiles::noise(600 * 1024, 1);
    const int whole = DeltaPatch::maxWindowLog;
    QTest::newRow("scattered changes and an insertion") << data << edited(data, 7) << whole << qint64(4000);
    QTest::newRow("unchanged") << data << data << whole << qint64(200);
    QTest::newRow("new content of its own") << data << TestFiles::noise(1000, 2) << whole << qint64(1100);
    QTest::newRow("from an empty file") << QByteArray() << QByteArray("new\n") << whole << qint64(30);
    QTest::newRow("to an empty file") << data << QByteArray() << whole << qint64(30);
    QTest::newRow("grown to three times its size")
        << data << data + TestFiles::noise(600 * 1024, 3) + data << whole << qint64(620 * 1024);
    // A 64 KiB window: each segment of 16 KiB is made against its stretch of
    // the earlier version, so the small insertion still costs little.
    QTest::newRow("segmented, scattered changes and an insertion")
        << data << edited(data, 9) << 16 << qint64(12000);
    QTest::newRow("segmented, shrunk to a third") << data << data.left(200 * 1024) << 16 << qint64(2000);
    QTest::newRow("segmented, grown past the earlier version's end")
        << data << data + TestFiles::noise(100 * 1024, 4) << 16 << qint64(110 * 1024);
}

void TestDeltaPatch::turnsBaseIntoTarget()
{
    QFETCH(QByteArray, base);
    QFETCH(QByteArray, target);
    QFETCH(int, windowLogLimit);
    QFETCH(qint64, mostPatchBytes);

    const qint64 patchSize = makePatch(base, target, windowLogLimit);
    QVERIFY(patchSize >= 0);
    QVERIFY2(patchSize <= mostPatchBytes, qPrintable(QString::number(patchSize)));

    QByteArray md5;
    QString error;
    quint64 reported = 0;
    const bool applied = DeltaPatch::apply(path("base"), path("patch"), path("out"), quint64(target.size()),
        &md5, &error, [&reported](quint64 done) {
            reported = done;
            return true;
        });
    QVERIFY2(applied, qPrintable(error));
    QCOMPARE(TestFiles::read(path("out")), target);
    QCOMPARE(md5, TestFiles::md5Hex(target));
    QCOMPARE(reported, quint64(target.size()));
}

void TestDeltaPatch::readsAndWritesTheStockToolsPatches_data()
{
    QTest::addColumn<bool>("madeByUs");
    QTest::newRow("our patch, the stock tool applies it") << true;
    QTest::newRow("the stock tool's patch, we apply it") << false;
}

void TestDeltaPatch::readsAndWritesTheStockToolsPatches()
{
    QFETCH(bool, madeByUs);
    if (zstdTool().isEmpty())
        QSKIP("the zstd command line tool is not installed (scripts/setup.sh installs it)");
    const QByteArray base = TestFiles::noise(300 * 1024, 5);
    const QByteArray target = edited(base, 11);
    QVERIFY(TestFiles::write(path("base"), base));
    QVERIFY(TestFiles::write(path("target"), target));

    if (madeByUs) {
        QVERIFY(makePatch(base, target, DeltaPatch::maxWindowLog) > 0);
        const ToolProcess::Result stock = ToolProcess::run(zstdTool(),
            {"-q", "-f", "-d", "--long=31", "--patch-from=" + path("base"), path("patch"), "-o",
                path("out")});
        QVERIFY2(stock.exitCode == 0, qPrintable(stock.err));
        QCOMPARE(TestFiles::read(path("out")), target);
        return;
    }
    const ToolProcess::Result stock = ToolProcess::run(zstdTool(),
        {"-q", "-f", "-3", "--long=27", "--patch-from=" + path("base"), path("target"), "-o", path("patch")});
    QVERIFY2(stock.exitCode == 0, qPrintable(stock.err));
    QVERIFY(QFileInfo(path("patch")).size() < 8000);
    QByteArray md5;
    QString error;
    QVERIFY2(
        DeltaPatch::apply(path("base"), path("patch"), path("out"), quint64(target.size()), &md5, &error),
        qPrintable(error));
    QCOMPARE(TestFiles::read(path("out")), target);
}

void TestDeltaPatch::refusesWhatDoesNotFit_data()
{
    QTest::addColumn<int>("windowLogLimit");
    QTest::addColumn<QString>("damage"); // "byte", "cut", "segment", "none"
    QTest::addColumn<qint64>("sizeChange"); // of the output size asked for
    QTest::addColumn<QString>("error");

    QTest::newRow("a byte changed") << 31 << "byte" << qint64(0) << "does not apply";
    QTest::newRow("cut short") << 31 << "cut" << qint64(0) << "cut short";
    QTest::newRow("more bytes than the file has") << 31 << "none" << qint64(-1) << "";
    QTest::newRow("fewer bytes than the file has") << 31 << "none" << qint64(1) << "gives";
    QTest::newRow("segmented, cut short") << 16 << "cut" << qint64(0) << "cut short";
    QTest::newRow("segmented, a stretch beyond the earlier version")
        << 16 << "segment" << qint64(0) << "segment header";
    QTest::newRow("segmented, more bytes than the file has") << 16 << "none" << qint64(-1) << "";
}

void TestDeltaPatch::refusesWhatDoesNotFit()
{
    QFETCH(int, windowLogLimit);
    QFETCH(QString, damage);
    QFETCH(qint64, sizeChange);
    QFETCH(QString, error);

    const QByteArray base = TestFiles::noise(300 * 1024, 6);
    const QByteArray target = edited(base, 13);
    QVERIFY(makePatch(base, target, windowLogLimit) > 0);
    QByteArray patch = TestFiles::read(path("patch"));
    if (damage == QLatin1String("byte"))
        patch[patch.size() / 2] = char(patch.at(patch.size() / 2) ^ 0x5a);
    else if (damage == QLatin1String("cut"))
        patch.chop(patch.size() / 3);
    else if (damage == QLatin1String("segment"))
        patch[8 + 4 + 8 + 7] = char(0x7f); // the top byte of the stretch's length
    QVERIFY(TestFiles::write(path("patch"), patch));

    QByteArray md5;
    QString why;
    // A changed byte may also slip through the decoder as other content; the
    // digest tells, and the callers compare it.
    const bool applied = DeltaPatch::apply(
        path("base"), path("patch"), path("out"), quint64(target.size() + sizeChange), &md5, &why);
    if (applied) {
        QCOMPARE(damage, QStringLiteral("byte"));
        QVERIFY(md5 != TestFiles::md5Hex(target));
        return;
    }
    QVERIFY2(why.contains(error), qPrintable(why));
    QVERIFY(!QFileInfo::exists(path("out")));
}

QTEST_GUILESS_MAIN(TestDeltaPatch)
#include "tst_deltapatch.moc"
