// corvane-publish --verify on a tree as published and on trees broken in
// each way it checks: the signature, the listed files, what packed files
// unpack to, the paths of the product ini, and the patches from the earlier
// version beside it.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "testfiles.h"
#include "toolprocess.h"

namespace {

const QString publishTool = QStringLiteral(CORVANE_PUBLISH);
const QString keytool = QStringLiteral(CORVANE_KEYTOOL);
const QString ini = QStringLiteral("client_linux_amd64.ini");

const QByteArray script = "#!/bin/sh\necho started\n";
QByteArray numberedLines(const char* text)
{
    QByteArray lines;
    for (int i = 0; i < 2000; ++i)
        lines += QByteArray::number(i) + ' ' + text + '\n';
    return lines;
}

const QByteArray readme = numberedLines("Read me, then read me again.");
const QByteArray plain = TestFiles::noise(20000, 3);
const QString patchIndex = QStringLiteral("client_linux_amd64.patches.ini");
const QByteArray removeIt = "<remove>";
const QByteArray truncateIt = "<truncate>";

} // namespace

class TestPublishVerify : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void findsWhatIsBroken_data();
    void findsWhatIsBroken();

private:
    QTemporaryDir keys;
};

void TestPublishVerify::initTestCase()
{
    QVERIFY(keys.isValid());
    QVERIFY(QDir().mkpath(keys.filePath(QStringLiteral("other"))));
    for (const QString& folder : {keys.path(), keys.filePath(QStringLiteral("other"))}) {
        const auto created = ToolProcess::run(keytool, {QStringLiteral("create")}, folder);
        QVERIFY2(created.exitCode == 0, qPrintable(created.err));
    }
}

void TestPublishVerify::findsWhatIsBroken_data()
{
    QTest::addColumn<QString>("file"); // below the version folder
    QTest::addColumn<QByteArray>("from"); // text replaced in it, or empty for the whole file
    QTest::addColumn<QByteArray>("to"); // the new text, removeIt or truncateIt
    QTest::addColumn<bool>("resign"); // sign the changed file again afterwards
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected"); // a line of standard output, or the error
    const QString publicKey = QStringLiteral("public.key");
    const QByteArray scriptMd5 = TestFiles::md5Hex(script);
    const QByteArray readmeMd5 = TestFiles::md5Hex(readme);

    QTest::newRow("as published") << QString() << QByteArray() << QByteArray() << false << publicKey << 0
                                  << "3 files (1 packed), 1 deletions, 2 patches; no problems";
    QTest::newRow("patch changed after publishing")
        << "patches/2/data/plain.bin" << QByteArray() << QByteArray("garbage") << false << publicKey << 1
        << "patches/2/data/plain.bin: 7 bytes with MD5";
    QTest::newRow("patch index changed after signing")
        << patchIndex << QByteArray("[2]") << QByteArray("[02]") << false << publicKey << 1
        << patchIndex + ".sig: the file changed after it was signed";
    QTest::newRow("patch that does not give the file")
        << patchIndex << QByteArray("data\\plain.bin=") << QByteArray("client.sh=") << true << publicKey << 1
        << "patches/2/data/plain.bin: gives MD5";
    QTest::newRow("earlier version gone from the mirror")
        << "../2" << QByteArray() << removeIt << false << publicKey << 1
        << patchIndex + ": the patches from version 2 cannot be checked";
    QTest::newRow("earlier version's file changed")
        << "../2/client/data/plain.bin" << QByteArray() << QByteArray("other") << false << publicKey << 1
        << "patches/2/data/plain.bin: version 2's data/plain.bin is not what its product ini lists";
    QTest::newRow("product ini changed after signing")
        << ini << QByteArray("old.txt=") << QByteArray("new.txt=") << false << publicKey << 1
        << ini + ".sig: the file changed after it was signed";
    QTest::newRow("signed with another key")
        << QString() << QByteArray() << QByteArray() << false << "other/public.key" << 1
        << ini + ".sig: the signature does not match this key";
    QTest::newRow("a bad .sig256 beside a good .sig")
        << ini + ".sig256" << QByteArray() << QByteArray(384, 'x') << false << publicKey << 1
        << ini + ".sig256: the signature does not match this key";
    QTest::newRow("signature missing")
        << ini + ".sig" << QByteArray() << removeIt << false << publicKey << 1 << ini + ".sig: missing";
    QTest::newRow("product ini missing")
        << ini << QByteArray() << removeIt << false << publicKey << 1 << ini + ": missing (is --type right?)";
    QTest::newRow("listed file missing") << "client/client.sh" << QByteArray() << removeIt << false
                                         << publicKey << 1 << "client/client.sh: missing";
    QTest::newRow("listed file of another size")
        << "client/client.sh" << QByteArray() << QByteArray("#!/bin/sh\n") << false << publicKey << 1
        << QStringLiteral("client/client.sh: 10 bytes, the product ini lists %1").arg(script.size());
    QTest::newRow("listed file with other bytes of its size")
        << "client/client.sh" << QByteArray("started") << QByteArray("stopped") << false << publicKey << 1
        << QStringLiteral("client/client.sh: MD5 %1, the product ini lists %2")
               .arg(QString::fromLatin1(TestFiles::md5Hex(QByteArray(script).replace("started", "stopped"))),
                   QString::fromLatin1(scriptMd5));
    QTest::newRow("packed file cut short")
        << "client/docs/readme.txt.gz" << QByteArray() << truncateIt << false << publicKey << 1
        << "client/docs/readme.txt.gz: does not unpack: ";
    QTest::newRow("packed file listed with other content")
        << ini << readmeMd5 << QByteArray(32, 'a') << true << publicKey << 1
        << QStringLiteral("client/docs/readme.txt.gz: unpacks to MD5 %1, the product ini lists %2")
               .arg(QString::fromLatin1(readmeMd5), QString(32, QLatin1Char('a')));
    QTest::newRow("entry the updater cannot read")
        << ini << scriptMd5 + "::" << QByteArray("not-a-digest::") << true << publicKey << 1
        << "client/client.sh: not a valid entry";
    QTest::newRow("entry listed twice")
        << ini << QByteArray("\nclient.sh=") << QByteArray("\nclient.sh=" + scriptMd5 + "::1\nclient.sh=")
        << true << publicKey << 1
        << "client/client.sh: listed more than once; the updater refuses the product ini";
    QTest::newRow("file path leading out of the client")
        << ini << QByteArray("\nclient.sh=") << QByteArray("\n..\\client.sh=") << true << publicKey << 1
        << "client/../client.sh: unsafe path";
    QTest::newRow("delete list leading out of the client")
        << ini << QByteArray("\nold.txt=") << QByteArray("\n..\\old.txt=") << true << publicKey << 1
        << "delete/../old.txt: unsafe path";
    QTest::newRow("delete list holding the updater's lock")
        << ini << QByteArray("\nold.txt=") << QByteArray("\nupdate.lock=") << true << publicKey << 1
        << "delete/update.lock: unsafe path: one of the updater's own files";
    QTest::newRow("delete list holding an installed file")
        << ini << QByteArray("\nold.txt=") << QByteArray("\nclient.sh=") << true << publicKey << 1
        << "delete/client.sh: deletes a file this version installs";
    QTest::newRow("file the product ini does not list")
        << "client/docs/extra.txt" << QByteArray() << QByteArray("never installed") << false << publicKey << 1
        << "client/docs/extra.txt: not listed in the product ini";
    // The patches the index lists are served beside the release; no other file is.
    QTest::newRow("file in the patch folder the index does not list")
        << "patches/2/docs/extra.bin" << QByteArray() << QByteArray("stray") << false << publicKey << 1
        << "patches/2/docs/extra.bin: not listed in the product ini";
    QTest::newRow("version folder missing")
        << QString() << QByteArray() << removeIt << false << publicKey << 3 << "Version folder not found";
    QTest::newRow("key file missing")
        << QString() << QByteArray() << QByteArray() << false << "none.key" << 4 << "Key file not found";
}

void TestPublishVerify::findsWhatIsBroken()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(bool, resign);
    QFETCH(QString, key);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    // Version 2 differs in its readme and its data; version 3 carries
    // patches from it for both.
    const QString earlier = dir.filePath(QStringLiteral("earlier"));
    QVERIFY(TestFiles::write(earlier + QStringLiteral("/client.sh"), script));
    QVERIFY(TestFiles::write(earlier + QStringLiteral("/docs/readme.txt"), numberedLines("Read me twice.")));
    QVERIFY(TestFiles::write(
        earlier + QStringLiteral("/data/plain.bin"), QByteArray(plain).replace(100, 8, "changed!")));
    const QString release = dir.filePath(QStringLiteral("release"));
    QVERIFY(TestFiles::write(release + QStringLiteral("/client.sh"), script));
    QVERIFY(TestFiles::write(release + QStringLiteral("/docs/readme.txt"), readme));
    QVERIFY(TestFiles::write(release + QStringLiteral("/data/plain.bin"), plain));
    QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("delete.txt")), "old.txt\n"));
    QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("changes.txt")), "What changed\n"));
    const QString out = dir.filePath(QStringLiteral("out"));
    const QStringList common {
        QStringLiteral("--key"), keys.filePath(QStringLiteral("private.key")), QStringLiteral("--gzip")};
    const auto previous = ToolProcess::run(
        publishTool, QStringList {earlier, out, QStringLiteral("--version"), QStringLiteral("2")} + common);
    QVERIFY2(previous.exitCode == 0, qPrintable(previous.err));
    const auto published = ToolProcess::run(publishTool,
        QStringList {release, out, QStringLiteral("--version"), QStringLiteral("3"),
            QStringLiteral("--delete"), dir.filePath(QStringLiteral("delete.txt")),
            QStringLiteral("--changelog"), dir.filePath(QStringLiteral("changes.txt")),
            QStringLiteral("--delta-from"), out + QStringLiteral("/2")}
            + common);
    QVERIFY2(published.exitCode == 0, qPrintable(published.err));

    const QString versionDir = dir.filePath(QStringLiteral("out/3"));
    const QString target = versionDir + QLatin1Char('/') + file;
    if (to == removeIt) {
        QVERIFY(QFileInfo(target).isDir() ? QDir(target).removeRecursively() : QFile::remove(target));
    } else if (to == truncateIt) {
        const QByteArray content = TestFiles::read(target);
        QVERIFY(TestFiles::write(target, content.left(content.size() / 2)));
    } else if (!file.isEmpty()) {
        QByteArray content = TestFiles::read(target);
        QVERIFY2(from.isEmpty() || content.contains(from), content.constData());
        QVERIFY(TestFiles::write(target, from.isEmpty() ? to : content.replace(from, to)));
    }
    if (resign) {
        const auto signed_ = ToolProcess::run(keytool,
            {QStringLiteral("sign"), versionDir + QLatin1Char('/') + file, QStringLiteral("--key"),
                keys.filePath(QStringLiteral("private.key"))});
        QVERIFY2(signed_.exitCode == 0, qPrintable(signed_.err));
    }

    const auto result = ToolProcess::run(
        publishTool, {QStringLiteral("--verify"), versionDir, QStringLiteral("--key"), keys.filePath(key)});
    QCOMPARE(result.exitCode, exitCode);
    const QString shown = exitCode <= 1 ? result.out : result.err;
    QVERIFY2(shown.contains(expected), qPrintable(result.out + result.err));
    if (exitCode == 1) {
        // One line per problem, then the summary that counts them.
        const QStringList lines = result.out.trimmed().split(QLatin1Char('\n'));
        QVERIFY2(lines.last().endsWith(QStringLiteral("; %1 problems").arg(lines.size() - 1)),
            qPrintable(result.out));
    }
}

QTEST_GUILESS_MAIN(TestPublishVerify)
#include "tst_publishverify.moc"
