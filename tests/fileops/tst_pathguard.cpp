// Judging the paths a product ini names against the directory they belong
// to, with real directories and symbolic links; one root judges many paths,
// as a stage does.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "fileops/pathguard.h"

class TestPathGuard : public QObject {
    Q_OBJECT

private slots:
    void judgesManyPaths_data();
    void judgesManyPaths();
};

void TestPathGuard::judgesManyPaths_data()
{
    // Asked one after the other of one root: each path and whether it is
    // inside. The tree: root/real/, root/linked -> outside/, root/dangling ->
    // a missing directory.
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QList<bool>>("inside");

    QTest::newRow("files in a real directory, twice")
        << QStringList {"real/a", "real/b"} << QList<bool> {true, true};
    QTest::newRow("a directory not made yet below a real one")
        << QStringList {"real/new/deeper/a", "real/new/deeper/b"} << QList<bool> {true, true};
    QTest::newRow("every file in a linked directory is refused, not only the first")
        << QStringList {"linked/a", "linked/b", "linked/sub/c"} << QList<bool> {false, false, false};
    QTest::newRow("a real directory after a linked one")
        << QStringList {"linked/a", "real/a"} << QList<bool> {false, true};
    QTest::newRow("through a dangling link")
        << QStringList {"dangling/a", "dangling/a"} << QList<bool> {false, false};
    QTest::newRow("not a plain path") << QStringList {"../x", "/etc/passwd", "real/./a", "real//a"}
                                      << QList<bool> {false, false, false, false};
}

void TestPathGuard::judgesManyPaths()
{
    QFETCH(QStringList, paths);
    QFETCH(QList<bool>, inside);

    QTemporaryDir dir;
    const QString root = dir.filePath("root");
    QVERIFY(QDir().mkpath(root + "/real") && QDir().mkpath(dir.filePath("outside")));
    QVERIFY(QFile::link(dir.filePath("outside"), root + "/linked"));
    QVERIFY(QFile::link(dir.filePath("missing"), root + "/dangling"));

    const PathGuard::Root guard(root);
    for (int i = 0; i < paths.size(); ++i) {
        const QString expected = inside.at(i) ? root + '/' + paths.at(i) : QString();
        QCOMPARE(guard.pathInside(paths.at(i)), expected);
        QCOMPARE(PathGuard::pathInside(root, paths.at(i)), expected);
    }
}

QTEST_GUILESS_MAIN(TestPathGuard)
#include "tst_pathguard.moc"
