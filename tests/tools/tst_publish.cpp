// corvane-publish as a release manager runs it: the mirror tree on disk, the
// product ini as the updater's settings reader sees it, the signature as the
// key tool checks it, and the exit codes of bad input.
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

#include "release/releasestatement.h"
#include "testfiles.h"
#include "toolprocess.h"

namespace {

const QString publishTool = QStringLiteral(CORVANE_PUBLISH);
const QString iniName = QStringLiteral("client_linux_amd64.ini");

struct ReleaseFile {
    QString path;
    QByteArray content;
    bool packs; // published packed with --gzip
};

QByteArray noise(int size)
{
    return TestFiles::noise(size, 12345);
}

// Names that need the INI reader's escapes: blanks, umlauts, a comma, an
// equals sign, a semicolon, a leading '#', and a section name of its own;
// and names that a packed entry cannot carry (the separator of its fields;
// a packed name longer than the updater takes).
QList<ReleaseFile> sampleRelease()
{
    const QByteArray text = QByteArray("Corvane client line of text\n").repeated(200);
    return {
        {QStringLiteral("client.sh"), "#!/bin/sh\necho started\n", false},
        {QStringLiteral("bin/corvane client"), text + "binary", true},
        {QStringLiteral("Dokumente/Grüße an alle.txt"), text + "grüße", true},
        {QStringLiteral("lib/a,b;c=d.txt"), text, true},
        {QStringLiteral("docs/two::colons.txt"), text, false},
        {QStringLiteral("docs/") + QString(248, QLatin1Char('n')), text, false},
        {QStringLiteral("#notes.txt"), "x", false},
        {QStringLiteral("General"), "y", false},
        {QStringLiteral("empty.dat"), QByteArray(), false},
        {QStringLiteral("noise.bin"), noise(4096), false},
    };
}

bool writeRelease(const QString& root, const QList<ReleaseFile>& files)
{
    for (const ReleaseFile& file : files) {
        if (!TestFiles::write(root + QLatin1Char('/') + file.path, file.content))
            return false;
    }
    return true;
}

QByteArray gunzip(const QByteArray& packed)
{
    QProcess gzip;
    gzip.start(QStringLiteral("gzip"), {QStringLiteral("-dc")});
    gzip.write(packed);
    gzip.closeWriteChannel();
    if (!gzip.waitForFinished(30000) || gzip.exitCode() != 0)
        return QByteArray("gzip failed");
    return gzip.readAllStandardOutput();
}

// content with a few bytes changed here and there: a new version of it.
QByteArray edited(QByteArray content, char mark)
{
    for (qsizetype at = 100; at < content.size(); at += content.size() / 5)
        content[at] = mark;
    return content;
}

QString twoFields(const QByteArray& content)
{
    return QString::fromLatin1(TestFiles::md5Hex(content)) + QStringLiteral("::")
        + QString::number(content.size());
}

} // namespace

class TestPublish : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void publishesEveryFile_data();
    void publishesEveryFile();
    void sameInputGivesSameBytes_data();
    void sameInputGivesSameBytes();
    void folderSections();
    void patchesFromEarlierVersions();
    void deleteSection_data();
    void deleteSection();
    void forceReplacesPublishedVersion();
    void badInput_data();
    void badInput();
    void helpText();
    void progressOnTerminalsOnly_data();
    void progressOnTerminalsOnly();
    void releaseStatement();

private:
    ToolProcess::Result publish(const QStringList& args);
    QString privateKey() const { return m_keys.filePath(QStringLiteral("private.key")); }

    QTemporaryDir m_keys;
};

ToolProcess::Result TestPublish::publish(const QStringList& args)
{
    return ToolProcess::run(publishTool, args);
}

void TestPublish::initTestCase()
{
    QVERIFY(m_keys.isValid());
    const auto created =
        ToolProcess::run(QStringLiteral(CORVANE_KEYTOOL), {QStringLiteral("create")}, m_keys.path());
    QVERIFY2(created.exitCode == 0, qPrintable(created.err));
}

void TestPublish::publishesEveryFile_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("files as they are") << QStringList();
    QTest::newRow("packed where it saves space") << QStringList {QStringLiteral("--gzip")};
    QTest::newRow("packed at the fastest level on one thread") << QStringList {QStringLiteral("--gzip"),
        QStringLiteral("--level"), QStringLiteral("1"), QStringLiteral("--threads"), QStringLiteral("1")};
}

void TestPublish::publishesEveryFile()
{
    QFETCH(QStringList, options);
    const bool gzip = options.contains(QStringLiteral("--gzip"));
    QTemporaryDir dir;
    const QString release = dir.filePath(QStringLiteral("release"));
    const QString out = dir.filePath(QStringLiteral("mirror"));
    const QList<ReleaseFile> files = sampleRelease();
    QVERIFY(writeRelease(release, files));
    QVERIFY(QFile::setPermissions(release + QStringLiteral("/client.sh"),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

    const auto result = publish(QStringList {release, out, QStringLiteral("--version"), QStringLiteral("42"),
                                    QStringLiteral("--key"), privateKey()}
        + options);
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));

    const QString versionDir = out + QStringLiteral("/42");
    QSettings ini(versionDir + QLatin1Char('/') + iniName, QSettings::IniFormat);
    QCOMPARE(ini.status(), QSettings::NoError);
    QCOMPARE(ini.childGroups(), QStringList {QStringLiteral("client")});
    ini.beginGroup(QStringLiteral("client"));
    QCOMPARE(ini.allKeys().size(), files.size());
    for (const ReleaseFile& file : files) {
        const bool packed = gzip && file.packs;
        const QString key = packed ? file.path + QStringLiteral(".gz") : file.path;
        const QVariant value = ini.value(key);
        QVERIFY2(value.typeId() == QMetaType::QString, qPrintable(key));
        const QByteArray onMirror = TestFiles::read(versionDir + QStringLiteral("/client/") + key);
        if (packed) {
            QCOMPARE(gunzip(onMirror), file.content);
            QCOMPARE(value.toString(),
                twoFields(onMirror) + QStringLiteral("::") + twoFields(file.content) + QStringLiteral("::")
                    + file.path);
            QVERIFY(onMirror.size() < file.content.size());
        } else {
            QCOMPARE(onMirror, file.content);
            QCOMPARE(value.toString(), twoFields(file.content));
        }
    }
    QVERIFY(QFileInfo(versionDir + QStringLiteral("/client/client.sh")).isExecutable());
    QVERIFY(!QFileInfo::exists(versionDir + QStringLiteral("/changelog_client.txt")));

    const auto verified = ToolProcess::run(QStringLiteral(CORVANE_KEYTOOL),
        {QStringLiteral("verify"), versionDir + QLatin1Char('/') + iniName, QStringLiteral("--key"),
            m_keys.filePath(QStringLiteral("public.key"))});
    QVERIFY2(verified.exitCode == 0, qPrintable(verified.err));
    // Nothing but the version folder is left in the output folder.
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList {QStringLiteral("42")});
}

void TestPublish::sameInputGivesSameBytes_data()
{
    QTest::addColumn<QString>("firstThreads");
    QTest::addColumn<QString>("secondThreads");
    QTest::newRow("two runs alike") << "2"
                                    << "2";
    QTest::newRow("one thread and five") << "1"
                                         << "5";
}

void TestPublish::sameInputGivesSameBytes()
{
    QFETCH(QString, firstThreads);
    QFETCH(QString, secondThreads);
    QTemporaryDir dir;
    const QString release = dir.filePath(QStringLiteral("release"));
    // Files of many sizes, so that threads finish them in a different order
    // from the order of the list.
    QList<ReleaseFile> files = sampleRelease();
    for (int i = 0; i < 24; ++i)
        files.append({QStringLiteral("many/file%1.txt").arg(i),
            QByteArray("part of a larger release ").repeated(1 + (i * 7919) % 6000) + noise(i * 100), true});
    QVERIFY(writeRelease(release, files));
    // Version 6 differs in every other file: version 7 carries patches from it.
    for (qsizetype i = 0; i < files.size(); i += 2)
        files[i].content = edited(files[i].content, 'x');
    QVERIFY(writeRelease(dir.filePath(QStringLiteral("earlier")), files));
    QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("changes.txt")), "Version 7: better\n"));
    for (const auto& [out, threads] : {std::pair {"one", firstThreads}, std::pair {"two", secondThreads}}) {
        const QString outDir = dir.filePath(QLatin1String(out));
        const auto earlier =
            publish({dir.filePath(QStringLiteral("earlier")), outDir, QStringLiteral("--version"),
                QStringLiteral("6"), QStringLiteral("--key"), privateKey(), QStringLiteral("--gzip")});
        QVERIFY2(earlier.exitCode == 0, qPrintable(earlier.err));
        const auto result = publish({release, outDir, QStringLiteral("--version"), QStringLiteral("7"),
            QStringLiteral("--key"), privateKey(), QStringLiteral("--gzip"), QStringLiteral("--changelog"),
            dir.filePath(QStringLiteral("changes.txt")), QStringLiteral("--threads"), threads,
            QStringLiteral("--delta-from"), outDir + QStringLiteral("/6")});
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    }
    const auto one = TestFiles::snapshot(dir.filePath(QStringLiteral("one")));
    QCOMPARE(TestFiles::snapshot(dir.filePath(QStringLiteral("two"))), one);
    QVERIFY(one.contains(QStringLiteral("7/") + iniName + QStringLiteral(".sig")));
    QVERIFY(one.contains(QStringLiteral("7/client_linux_amd64.patches.ini.sig")));
    QVERIFY(one.contains(QStringLiteral("7/client_linux_amd64.patches.ini.sig256")));
    QVERIFY(one.contains(QStringLiteral("7/") + iniName + QStringLiteral(".sig256")));
    QCOMPARE(TestFiles::read(dir.filePath(QStringLiteral("one/7/changelog_client.txt"))),
        QByteArray("Version 7: better\n"));
}

void TestPublish::folderSections()
{
    QTemporaryDir dir;
    const QString release = dir.filePath(QStringLiteral("release"));
    QVERIFY(writeRelease(release,
        {{QStringLiteral("top.txt"), "t", false}, {QStringLiteral("base/lib/x.so"), "x", false},
            {QStringLiteral("extra files/data.bin"), "d", false}}));
    const auto result = publish({release, dir.filePath(QStringLiteral("out")), QStringLiteral("--version"),
        QStringLiteral("3"), QStringLiteral("--key"), privateKey(), QStringLiteral("--folder-sections"),
        QStringLiteral("--section"), QStringLiteral("main")});
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));

    QSettings ini(dir.filePath(QStringLiteral("out/3/")) + iniName, QSettings::IniFormat);
    QCOMPARE(ini.childGroups(),
        (QStringList {QStringLiteral("base"), QStringLiteral("extra files"), QStringLiteral("main")}));
    QCOMPARE(ini.value(QStringLiteral("base/lib/x.so")).toString(), twoFields("x"));
    QCOMPARE(ini.value(QStringLiteral("extra files/data.bin")).toString(), twoFields("d"));
    QCOMPARE(ini.value(QStringLiteral("main/top.txt")).toString(), twoFields("t"));
    QCOMPARE(TestFiles::read(dir.filePath(QStringLiteral("out/3/extra files/data.bin"))), QByteArray("d"));
}

// Patches from two earlier versions: a changed file gets a patch from each
// earlier content (one, if both versions had the same), a packed file one
// between unpacked contents, and a file that stayed, is new, or whose patch
// would not pay gets none. The product ini and its signature are those of the
// release published without patches, to the byte: an updater that knows
// nothing of patches sees the release it always saw.
void TestPublish::patchesFromEarlierVersions()
{
    const QByteArray big = noise(200000);
    const QByteArray manual = QByteArray("A line of the manual.\n").repeated(4000);
    const QMap<QString, QList<QByteArray>> versions {
        // path: content in versions 1, 2 and 3
        {"big.bin", {big, big, edited(big, 'c')}},
        {"docs/manual.txt", {edited(manual, 'a'), edited(manual, 'b'), manual}},
        {"same.txt", {"same", "same", "same"}},
        {"new.txt", {{}, {}, "new in 3"}},
        {"tiny.bin", {TestFiles::noise(40, 1), TestFiles::noise(40, 2), TestFiles::noise(40, 3)}},
    };
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out"));
    for (int version = 1; version <= 3; ++version) {
        QList<ReleaseFile> files;
        for (auto file = versions.cbegin(); file != versions.cend(); ++file) {
            if (!file.value().at(version - 1).isNull())
                files.append({file.key(), file.value().at(version - 1), true});
        }
        const QString release = dir.filePath(QStringLiteral("release%1").arg(version));
        QVERIFY(writeRelease(release, files));
        QStringList args {release, out, QStringLiteral("--version"), QString::number(version),
            QStringLiteral("--key"), privateKey(), QStringLiteral("--gzip")};
        if (version == 3) {
            const auto plain =
                publish({release, dir.filePath(QStringLiteral("plain")), QStringLiteral("--version"),
                    QStringLiteral("3"), QStringLiteral("--key"), privateKey(), QStringLiteral("--gzip")});
            QVERIFY2(plain.exitCode == 0, qPrintable(plain.err));
            args << QStringLiteral("--delta-from") << out + QStringLiteral("/1")
                 << QStringLiteral("--delta-from") << out + QStringLiteral("/2");
        }
        const auto result = publish(args);
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        if (version == 3)
            QVERIFY2(result.out.contains(QStringLiteral("Patches: 3,")), qPrintable(result.out));
    }
    for (const QString& name : {iniName, iniName + QStringLiteral(".sig")}) {
        QCOMPARE(TestFiles::read(out + QStringLiteral("/3/") + name),
            TestFiles::read(dir.filePath(QStringLiteral("plain/3/")) + name));
    }

    // Section by earlier version, key by installed file: the patch's path is
    // the last field.
    QSettings index(out + QStringLiteral("/3/client_linux_amd64.patches.ini"), QSettings::IniFormat);
    QCOMPARE(index.childGroups(), (QStringList {QStringLiteral("1"), QStringLiteral("2")}));
    const QStringList expected {QStringLiteral("1/big.bin=patches/1/big.bin"),
        QStringLiteral("1/docs/manual.txt=patches/1/docs/manual.txt"),
        QStringLiteral("2/big.bin=patches/1/big.bin"),
        QStringLiteral("2/docs/manual.txt=patches/2/docs/manual.txt")};
    QStringList listed;
    for (const QString& key : index.allKeys())
        listed.append(key + QLatin1Char('=') + index.value(key).toString().section(QStringLiteral("::"), 5));
    QCOMPARE(listed, expected);

    // Every patch turns its version's file into this one's.
    const auto verified = publish({QStringLiteral("--verify"), out + QStringLiteral("/3"),
        QStringLiteral("--key"), m_keys.filePath(QStringLiteral("public.key"))});
    QVERIFY2(verified.exitCode == 0, qPrintable(verified.out + verified.err));
    QVERIFY2(verified.out.contains(QStringLiteral("4 patches; no problems")), qPrintable(verified.out));
}

void TestPublish::deleteSection_data()
{
    QTest::addColumn<QByteArray>("deleteList");
    QTest::addColumn<QStringList>("previousFiles");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("from a list, comments and blanks skipped")
        << QByteArray("# gone in 2\nold.txt\n\n  docs/Alte Datei.txt  \nold.txt\n") << QStringList()
        << QStringList {QStringLiteral("docs/Alte Datei.txt"), QStringLiteral("old.txt")};
    QTest::newRow("against the previous release")
        << QByteArray() << QStringList {QStringLiteral("keep.txt"), QStringLiteral("lib/gone.so")}
        << QStringList {QStringLiteral("lib/gone.so")};
    QTest::newRow("both together") << QByteArray("old.txt\n")
                                   << QStringList {QStringLiteral("keep.txt"), QStringLiteral("lib/gone.so")}
                                   << QStringList {QStringLiteral("lib/gone.so"), QStringLiteral("old.txt")};
}

void TestPublish::deleteSection()
{
    QFETCH(QByteArray, deleteList);
    QFETCH(QStringList, previousFiles);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString release = dir.filePath(QStringLiteral("release"));
    QVERIFY(writeRelease(release, {{QStringLiteral("keep.txt"), "k2", false}}));
    QStringList args {release, dir.filePath(QStringLiteral("out")), QStringLiteral("--version"),
        QStringLiteral("2"), QStringLiteral("--key"), privateKey()};
    if (!deleteList.isEmpty()) {
        QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("delete.txt")), deleteList));
        args << QStringLiteral("--delete") << dir.filePath(QStringLiteral("delete.txt"));
    }
    if (!previousFiles.isEmpty()) {
        for (const QString& path : previousFiles)
            QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("previous/")) + path, "old"));
        args << QStringLiteral("--previous") << dir.filePath(QStringLiteral("previous"));
    }
    const auto result = publish(args);
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));

    QSettings ini(dir.filePath(QStringLiteral("out/2/")) + iniName, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("delete"));
    QCOMPARE(ini.allKeys(), expected);
}

void TestPublish::forceReplacesPublishedVersion()
{
    QTemporaryDir dir;
    const QString release = dir.filePath(QStringLiteral("release"));
    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(writeRelease(release, {{QStringLiteral("a.txt"), "first", false}}));
    const QStringList args {release, out, QStringLiteral("--version"), QStringLiteral("5"),
        QStringLiteral("--key"), privateKey()};
    QCOMPARE(publish(args).exitCode, 0);
    QVERIFY(TestFiles::write(release + QStringLiteral("/a.txt"), "second"));
    QVERIFY(TestFiles::write(out + QStringLiteral("/5/stray.txt"), "left from before"));

    const auto refused = publish(args);
    QCOMPARE(refused.exitCode, 5);
    QVERIFY2(refused.err.contains(QStringLiteral("use --force")), qPrintable(refused.err));
    QCOMPARE(TestFiles::read(out + QStringLiteral("/5/client/a.txt")), QByteArray("first"));

    QCOMPARE(publish(args + QStringList {QStringLiteral("--force")}).exitCode, 0);
    QCOMPARE(TestFiles::read(out + QStringLiteral("/5/client/a.txt")), QByteArray("second"));
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/5/stray.txt")));
}

void TestPublish::badInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const auto args = [](const char* line) { return QString::fromUtf8(line).split(QLatin1Char(' ')); };
    QTest::newRow("no arguments") << QStringList() << 2 << "Expected RELEASE_DIR and OUT_DIR";
    QTest::newRow("unknown option") << args("release out --version 2 --key private.key --zip") << 2
                                    << "Unknown option 'zip'";
    QTest::newRow("version missing") << args("release out --key private.key") << 2 << "--version is required";
    QTest::newRow("key missing") << args("release out --version 2") << 2 << "--key is required";
    QTest::newRow("version not a number")
        << args("release out --version 2.1 --key private.key") << 2 << "whole number";
    QTest::newRow("version zero") << args("release out --version 0 --key private.key") << 2 << "whole number";
    QTest::newRow("version with sign")
        << args("release out --version +2 --key private.key") << 2 << "whole number";
    QTest::newRow("version too large")
        << args("release out --version 2147483648 --key private.key") << 2 << "whole number";
    QTest::newRow("client type with a slash")
        << args("release out --version 2 --key private.key --type a/b") << 2 << "client type";
    QTest::newRow("release folder missing")
        << args("nowhere out --version 2 --key private.key") << 3 << "Release folder not found: nowhere";
    QTest::newRow("release folder is a file") << args("delete-folder.txt out --version 2 --key private.key")
                                              << 3 << "delete-folder.txt is not a folder";
    QTest::newRow("output folder inside the release folder")
        << args("release release/out --version 2 --key private.key") << 2 << "lies inside the release folder";
    QTest::newRow("output folder is the release folder")
        << args("release release --version 2 --key private.key") << 2 << "lies inside the release folder";
    QTest::newRow("output folder reached through a link into the release") << args(
        "release into-release/out --version 2 --key private.key") << 2 << "lies inside the release folder";
    QTest::newRow("level beyond zlib's")
        << args("release out --version 2 --key private.key --gzip --level 10") << 2
        << "--level takes a number from 1 to 9";
    QTest::newRow("level without packing")
        << args("release out --version 2 --key private.key --level 1") << 2 << "give --gzip too";
    QTest::newRow("no threads") << args("release out --version 2 --key private.key --threads 0") << 2
                                << "--threads takes a number from 1";
    QTest::newRow("verify with publishing options")
        << args("--verify out/2 --key public.key --gzip") << 2 << "--gzip does not go with --verify";
    QTest::newRow("verify without a key") << args("--verify out/2") << 2 << "--key is required";
    QTest::newRow("previous folder missing")
        << args("release out --version 2 --key private.key --previous nowhere") << 3
        << "Release folder not found: nowhere";
    QTest::newRow("deletion list missing")
        << args("release out --version 2 --key private.key --delete none.txt") << 3
        << "Cannot read the deletion list none.txt";
    QTest::newRow("change log missing")
        << args("release out --version 2 --key private.key --changelog none.txt") << 3
        << "Change log not found";
    QTest::newRow("key file missing")
        << args("release out --version 2 --key none.key") << 4 << "Private key file not found";
    QTest::newRow("key file unreadable")
        << args("release out --version 2 --key locked.key") << 4 << "Cannot read the private key";
    QTest::newRow("public key") << args("release out --version 2 --key public.key") << 4
                                << "holds a public key";
    QTest::newRow("key file too short")
        << args("release out --version 2 --key short.key") << 4 << "is 100 bytes long";
    QTest::newRow("key file of garbage")
        << args("release out --version 2 --key garbage.key") << 4 << "is not a key file";
    QTest::newRow("deleting a published file")
        << args("release out --version 2 --key private.key --delete delete-published.txt") << 6
        << "a.txt is both published and listed for deletion";
    QTest::newRow("deleting a folder of the release")
        << args("release out --version 2 --key private.key --delete delete-folder.txt") << 6
        << "sub is deleted but is a folder of the new release";
    QTest::newRow("deleting outside the client")
        << args("release out --version 2 --key private.key --delete delete-outside.txt") << 6
        << "Cannot delete ../etc/passwd";
    QTest::newRow("deleting the updater and its mirror list")
        << args("release out --version 2 --key private.key --previous with-updater") << 6
        << "Cannot delete mirrors.ini: one of the updater's own files";
    QTest::newRow("symbolic link in the release")
        << args("linked out --version 2 --key private.key") << 6 << "link.txt is a symbolic link";
    QTest::newRow("reserved name in the release")
        << args("reserved out --version 2 --key private.key") << 6 << "_old_a.txt cannot be published";
    QTest::newRow("line break in a name") << args("forging out --version 2 --key private.key") << 6
                                          << "cannot be published: a control character in the name";
    QTest::newRow("name of a file being installed in the release")
        << args("reserved-new out --version 2 --key private.key") << 6 << "_new_a.txt cannot be published";
    QTest::newRow("file named like the product ini")
        << args("shadowing out --version 2 --key private.key") << 6 << "would overwrite the product ini";
    QTest::newRow("same path in two mirror folders")
        << args("twice out --version 2 --key private.key --folder-sections") << 6
        << "more than one mirror folder";
    QTest::newRow("empty release") << args("empty out --version 2 --key private.key") << 6
                                   << "Nothing to publish";
    QTest::newRow("patches from a folder that is not a version")
        << args("release out --version 2 --key private.key --delta-from release") << 3
        << "--delta-from takes a published version folder OUT_DIR/N";
    QTest::newRow("patches from a version not published")
        << args("release out --version 2 --key private.key --delta-from published/4") << 3
        << "No product ini of version 4";
    QTest::newRow("patches from the version being published")
        << args("release out --version 2 --key private.key --delta-from published/2") << 2
        << "names the version being published";
    QTest::newRow("patches beside a mirror folder of their name")
        << args(
               "patches-section out --version 2 --key private.key --folder-sections --delta-from published/1")
        << 6 << "The mirror folder patches holds the patches";
    QTest::newRow("file named like the patch index")
        << args("shadowing-index out --version 2 --key private.key") << 6
        << "would overwrite the patch index";
    QTest::newRow("verify with patches") << args("--verify out/2 --key public.key --delta-from published/1")
                                         << 2 << "--delta-from does not go with --verify";
    QTest::newRow("a statement's field without --channel")
        << args("release out --version 2 --key private.key --display 2.0") << 2 << "give --channel too";
    QTest::newRow("an unknown channel") << args("release out --version 2 --key private.key --channel nightly")
                                        << 2 << "--channel takes stable, beta or alpha";
    QTest::newRow("a statement that expires at once")
        << args("out --version 2 --key private.key --channel stable --expires 0") << 2
        << "--expires takes a number from 1 to 3650";
    QTest::newRow("packing without a release folder")
        << args("out --version 2 --key private.key --channel stable --gzip") << 2 << "give RELEASE_DIR too";
    QTest::newRow("stating a version that is not published")
        << args("out --version 2 --key private.key --channel stable") << 3
        << "Version 2 of client_linux_amd64 is not published in out";
}

void TestPublish::badInput()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString d = dir.path();
    QVERIFY(writeRelease(d + QStringLiteral("/release"),
        {{QStringLiteral("a.txt"), "a", false}, {QStringLiteral("sub/b.txt"), "b", false}}));
    QVERIFY(QDir().mkpath(d + QStringLiteral("/linked")));
    QVERIFY(QFile::link(d + QStringLiteral("/release/a.txt"), d + QStringLiteral("/linked/link.txt")));
    QVERIFY(QFile::link(d + QStringLiteral("/release/sub"), d + QStringLiteral("/into-release")));
    QVERIFY(writeRelease(d + QStringLiteral("/with-updater"),
        {{QStringLiteral("a.txt"), "a", false}, {QStringLiteral("mirrors.ini"), "m", false},
            {QStringLiteral("update"), "u", false}}));
    QVERIFY(writeRelease(d + QStringLiteral("/reserved"), {{QStringLiteral("_old_a.txt"), "a", false}}));
    QVERIFY(writeRelease(
        d + QStringLiteral("/forging"), {{QStringLiteral("a.txt\nInstalled b.txt"), "a", false}}));
    QVERIFY(writeRelease(d + QStringLiteral("/reserved-new"), {{QStringLiteral("_new_a.txt"), "a", false}}));
    QVERIFY(writeRelease(d + QStringLiteral("/shadowing"), {{iniName + QStringLiteral(".sig"), "s", false}}));
    QVERIFY(writeRelease(d + QStringLiteral("/twice"),
        {{QStringLiteral("one/x.txt"), "1", false}, {QStringLiteral("two/x.txt"), "2", false}}));
    QVERIFY(QDir().mkpath(d + QStringLiteral("/empty")));
    QVERIFY(writeRelease(
        d + QStringLiteral("/patches-section"), {{QStringLiteral("patches/a.txt"), "a", false}}));
    QVERIFY(writeRelease(d + QStringLiteral("/shadowing-index"),
        {{QStringLiteral("client_linux_amd64.patches.ini"), "i", false}}));
    for (const char* version : {"1", "2"}) {
        QVERIFY(TestFiles::write(d + QStringLiteral("/published/%1/").arg(QLatin1String(version)) + iniName,
            "[client]\na.txt=" + twoFields("x").toUtf8() + "\n"));
    }
    QVERIFY(TestFiles::write(d + QStringLiteral("/delete-published.txt"), "a.txt\n"));
    QVERIFY(TestFiles::write(d + QStringLiteral("/delete-folder.txt"), "sub\n"));
    QVERIFY(TestFiles::write(d + QStringLiteral("/delete-outside.txt"), "../etc/passwd\n"));
    for (const char* name : {"private.key", "public.key"})
        QVERIFY(
            QFile::copy(m_keys.filePath(QLatin1String(name)), d + QLatin1Char('/') + QLatin1String(name)));
    QVERIFY(TestFiles::write(d + QStringLiteral("/short.key"), QByteArray(100, 'k')));
    QVERIFY(TestFiles::write(d + QStringLiteral("/garbage.key"), QByteArray(2048, 'k')));
    QVERIFY(QFile::copy(d + QStringLiteral("/private.key"), d + QStringLiteral("/locked.key")));
    QVERIFY(QFile::setPermissions(d + QStringLiteral("/locked.key"), QFileDevice::Permissions()));

    const auto result = ToolProcess::run(publishTool, args, d);
    if (QTest::currentDataTag() == QByteArrayLiteral("key file unreadable") && result.exitCode == 0)
        QSKIP("Running as root: permissions do not lock the key file");
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    // A failed run leaves no version behind, not even a partial one.
    QVERIFY(!QFileInfo::exists(d + QStringLiteral("/out/2")));
    QVERIFY(!QFileInfo::exists(d + QStringLiteral("/release/out")));
    QVERIFY(!QFileInfo::exists(d + QStringLiteral("/release/2")));
    QVERIFY(!QFileInfo::exists(d + QStringLiteral("/release/sub/out")));
    const QStringList leftovers =
        QDir(d + QStringLiteral("/out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(QLatin1Char(' '))));
}

void TestPublish::helpText()
{
    const auto result = publish({QStringLiteral("--help")});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.out.startsWith(QStringLiteral("Usage: corvane-publish")));
    QVERIFY(result.out.contains(QStringLiteral("Exit status")));
}

void TestPublish::progressOnTerminalsOnly_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("on a terminal") << true;
    QTest::newRow("into a pipe") << false;
}

// A publisher at a terminal sees the packing go on; a release pipeline's log
// gets only the closing line, without carriage returns or escapes.
void TestPublish::progressOnTerminalsOnly()
{
    QFETCH(bool, terminal);
    QTemporaryDir dir;
    const QString release = dir.filePath(QStringLiteral("release"));
    QVERIFY(writeRelease(release, sampleRelease()));
    const QStringList args {release, dir.filePath(QStringLiteral("out")), QStringLiteral("--version"),
        QStringLiteral("2"), QStringLiteral("--key"), privateKey(), QStringLiteral("--gzip")};
    const ToolProcess::Result result =
        terminal ? ToolProcess::runOnTerminal(publishTool, args) : publish(args);
    QCOMPARE(result.exitCode, 0);
    const QString shown = result.out + result.err;
    QVERIFY2(shown.contains(QStringLiteral("Published version 2")), qPrintable(shown));
    const QString fileCount = QString::number(sampleRelease().size());
    QCOMPARE(shown.contains(QStringLiteral("\rPacking: %1/%1 files").arg(fileCount)), terminal);
    QCOMPARE(shown.contains(QLatin1Char('\033')), terminal);
}

// A channel stated while publishing, another one later for the same version:
// each entry names the version with its product ini's digest, the first
// stays as it was, and both signatures verify.
void TestPublish::releaseStatement()
{
    QTemporaryDir dir;
    const QString release = dir.filePath(QStringLiteral("release"));
    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(writeRelease(release, {{QStringLiteral("a.txt"), "a", false}}));
    QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("news.html")), "<b>Neu</b>\r\nzweite\tZeile\n"));
    auto result = publish({release, out, QStringLiteral("--version"), QStringLiteral("7"),
        QStringLiteral("--key"), privateKey(), QStringLiteral("--channel"), QStringLiteral("stable"),
        QStringLiteral("--display"), QStringLiteral("7.0 Grüße"), QStringLiteral("--expires"),
        QStringLiteral("10"), QStringLiteral("--news"), dir.filePath(QStringLiteral("news.html"))});
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    QVERIFY2(
        result.out.contains(QStringLiteral("Stated version 7 of client_linux_amd64 for the stable channel")),
        qPrintable(result.out));
    const QString path = out + QStringLiteral("/client_linux_amd64.channels");
    const std::optional<ReleaseStatement> first = ReleaseStatement::parse(TestFiles::read(path));
    QVERIFY(first);

    result = publish({out, QStringLiteral("--version"), QStringLiteral("7"), QStringLiteral("--key"),
        privateKey(), QStringLiteral("--channel"), QStringLiteral("beta")});
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    QString problem;
    const std::optional<ReleaseStatement> statement =
        ReleaseStatement::parse(TestFiles::read(path), &problem);
    QVERIFY2(statement, qPrintable(problem));
    QCOMPARE(statement->channels.keys(), (QStringList {"beta", "stable"}));

    const ReleaseStatement::Channel stable = statement->channels.value(QStringLiteral("stable"));
    QCOMPARE(stable.version, 7);
    QCOMPARE(stable.clientType, QStringLiteral("client_linux_amd64"));
    QCOMPARE(stable.productIniSha256,
        QCryptographicHash::hash(
            TestFiles::read(out + QStringLiteral("/7/") + iniName), QCryptographicHash::Sha256));
    QCOMPARE(stable.display, QStringLiteral("7.0 Grüße"));
    QCOMPARE(stable.news, QStringLiteral("<b>Neu</b>\nzweite Zeile"));
    QCOMPARE(stable.issued.secsTo(stable.expires), 10 * 24 * 3600);
    QVERIFY(qAbs(stable.issued.secsTo(QDateTime::currentDateTimeUtc())) < 600);
    QCOMPARE(stable.issued, first->channels.value(QStringLiteral("stable")).issued);
    const ReleaseStatement::Channel beta = statement->channels.value(QStringLiteral("beta"));
    QCOMPARE(beta.productIniSha256, stable.productIniSha256);
    QCOMPARE(beta.issued.secsTo(beta.expires), 30 * 24 * 3600);
    QVERIFY(beta.news.isEmpty());

    const auto verified = ToolProcess::run(QStringLiteral(CORVANE_KEYTOOL),
        {QStringLiteral("verify"), path, QStringLiteral("--key"),
            m_keys.filePath(QStringLiteral("public.key"))});
    QCOMPARE(
        verified.out, path + QStringLiteral(".sig256 verifies\n") + path + QStringLiteral(".sig verifies\n"));
    QCOMPARE(QDir(out).entryList(QDir::Files),
        (QStringList {"client_linux_amd64.channels", "client_linux_amd64.channels.sig",
            "client_linux_amd64.channels.sig256"}));
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
