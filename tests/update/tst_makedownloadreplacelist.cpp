// The list compilation on real files: what is skipped, reused, replaced and
// deleted, and that a broken or hostile product ini publishes nothing.
#include "update/makedownloadreplacelisttaskspecification.h"

#include "stagefixture.h"
#include "testfiles.h"

#include <QTest>

namespace {

const QByteArray oldContent("old content of the file\n");
const QByteArray newContent("new content of the file\n");
const QByteArray readme("Read me first.\n");

QString md5(const QByteArray& data)
{
    return QString::fromLatin1(TestFiles::md5Hex(data));
}

// "path=md5::size" for content installed as downloaded.
QString plainLine(const QString& path, const QByteArray& content)
{
    return QStringLiteral("%1=%2::%3\n").arg(path, md5(content)).arg(content.size());
}

QString packedLine(const QString& path, const QString& unpacked, const QByteArray& content)
{
    const QByteArray packed = TestFiles::gzip(content);
    return QStringLiteral("%1=%2::%3::%4::%5::%6\n")
        .arg(path, md5(packed))
        .arg(packed.size())
        .arg(md5(content))
        .arg(content.size())
        .arg(unpacked);
}

// A line of the patch index: the patch of the installed file at target from
// base to result, patchSize bytes at "p/<target>".
QString patchLine(const QString& target, const QByteArray& base, const QByteArray& result, int patchSize = 9)
{
    return QStringLiteral("%1=%2::%3::%4::%5::%6::p/%1\n")
        .arg(target, md5(base))
        .arg(base.size())
        .arg(md5(result), md5("patch"))
        .arg(patchSize);
}

// Files to put in place before the run: "client:<path>" or "temp:<path>".
using Files = QMap<QString, QByteArray>;

QStringList keysOf(const QList<FileDownloadSpecification>& list)
{
    QStringList keys;
    for (const auto& entry : list)
        keys.append(entry.fileName);
    return keys;
}

QStringList keysOf(const QList<FileReplaceSpecification>& list)
{
    QStringList keys;
    for (const auto& entry : list)
        keys.append(entry.fileName);
    return keys;
}

} // namespace

class TestMakeDownloadReplaceList : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        fixture = std::make_unique<StageFixture>();
        QVERIFY(fixture->isValid());
        fixture->parameters.clientType = QStringLiteral("client_linux_amd64");
    }

    // The harness keeps the directories and prints the log of a failed test.
    void cleanup() { fixture.reset(); }

    void compiles_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<Files>("files");
        QTest::addColumn<QStringList>("downloads");
        QTest::addColumn<QStringList>("replaces");
        QTest::addColumn<QStringList>("deletes");

        const QString so = QStringLiteral("lib/b.so");
        QTest::newRow("installed file is current: in no list")
            << "[files]\n" + plainLine(so, newContent) << Files {{"client:lib/b.so", newContent}}
            << QStringList() << QStringList() << QStringList();
        QTest::newRow("digest compared ignoring case")
            << QStringLiteral("[files]\nlib/b.so=%1::%2\n")
                   .arg(md5(newContent).toUpper())
                   .arg(newContent.size())
            << Files {{"client:lib/b.so", newContent}} << QStringList() << QStringList() << QStringList();
        QTest::newRow("changed file, verified copy waiting: replace only")
            << "[files]\n" + plainLine(so, newContent)
            << Files {{"client:lib/b.so", oldContent}, {"temp:lib/b.so", newContent}} << QStringList()
            << QStringList {so} << QStringList();
        QTest::newRow("changed file, corrupt copy waiting: fetched again")
            << "[files]\n" + plainLine(so, newContent)
            << Files {{"client:lib/b.so", oldContent}, {"temp:lib/b.so", oldContent}} << QStringList {so}
            << QStringList {so} << QStringList();
        QTest::newRow("missing file: download and replace")
            << "[files]\n" + plainLine(so, newContent) << Files() << QStringList {so} << QStringList {so}
            << QStringList();
        QTest::newRow("packed entry: installed unpacked file is current")
            << "[files]\n" + packedLine("readme.txt.gz", "readme.txt", readme)
            << Files {{"client:readme.txt", readme}} << QStringList() << QStringList() << QStringList();
        QTest::newRow("packed entry: packed copy waiting is reused")
            << "[files]\n" + packedLine("readme.txt.gz", "readme.txt", readme)
            << Files {{"client:readme.txt", oldContent}, {"temp:readme.txt.gz", TestFiles::gzip(readme)}}
            << QStringList() << QStringList {"readme.txt.gz"} << QStringList();
        QTest::newRow("packed entry: the installed packed name does not count")
            << "[files]\n" + packedLine("readme.txt.gz", "readme.txt", readme)
            << Files {{"client:readme.txt.gz", TestFiles::gzip(readme)}} << QStringList {"readme.txt.gz"}
            << QStringList {"readme.txt.gz"} << QStringList();
        // The writer quotes a value with a comma; the settings reader reads it.
        QTest::newRow("packed entry whose name the writer quotes: read whole, the installed file current")
            << "[files]\n"
                + packedLine("readme.gz", "read,me.txt", readme)
                      .replace(QStringLiteral("="), QStringLiteral("=\""))
                      .replace(QStringLiteral("\n"), QStringLiteral("\"\n"))
            << Files {{"temp:readme.gz", TestFiles::gzip(readme)}} << QStringList()
            << QStringList {"readme.gz"} << QStringList();
        QTest::newRow("obsolete files: present listed, absent passed over")
            << "[delete]\nold/gone.so=1\nold/here.so=1\n" + ("[files]\n" + plainLine("a", newContent))
            << Files {{"client:old/here.so", oldContent}, {"client:a", newContent}} << QStringList()
            << QStringList() << QStringList {"old/here.so"};
        QTest::newRow("current file beside an old copy from a cut-short run: the copy is deleted")
            << "[files]\n" + plainLine(so, newContent)
            << Files {{"client:lib/b.so", newContent}, {"client:lib/_old_b.so", oldContent}} << QStringList()
            << QStringList() << QStringList {"lib/_old_b.so"};
        QTest::newRow("current packed file beside an old copy: the unpacked name's copy is deleted")
            << "[files]\n" + packedLine("readme.txt.gz", "readme.txt", readme)
            << Files {{"client:readme.txt", readme}, {"client:_old_readme.txt", oldContent}} << QStringList()
            << QStringList() << QStringList {"_old_readme.txt"};
        QTest::newRow("missing file beside an old copy from a cut-short run: fetched and the copy deleted")
            << "[files]\n" + plainLine(so, newContent) << Files {{"client:lib/_old_b.so", oldContent}}
            << QStringList {so} << QStringList {so} << QStringList {"lib/_old_b.so"};
        QTest::newRow("the updater's own file keeps its old copy for the next start")
            << "[files]\n" + plainLine("update", newContent)
            << Files {{"client:update", newContent}, {"client:_old_update", oldContent}} << QStringList()
            << QStringList() << QStringList();
        QTest::newRow("current file beside its half-written new content: that is deleted")
            << "[files]\n" + plainLine(so, newContent)
            << Files {{"client:lib/b.so", newContent}, {"client:lib/_new_b.so", "half"}} << QStringList()
            << QStringList() << QStringList {"lib/_new_b.so"};
        QTest::newRow("the updater's own half-written new content is deleted too")
            << "[files]\n" + plainLine("update", newContent)
            << Files {{"client:update", oldContent}, {"client:_new_update", "half"}} << QStringList {"update"}
            << QStringList {"update"} << QStringList {"_new_update"};
        QTest::newRow("leftovers and obsolete files in reading order")
            << "[alpha]\n" + plainLine("a", newContent) + "[delete]\ngone=1\n[files]\n"
                + plainLine("b", newContent) + plainLine("c", newContent)
            << Files {{"client:a", newContent}, {"client:_old_a", oldContent}, {"client:gone", oldContent},
                   {"client:b", newContent}, {"client:_new_b", "half"}, {"client:_old_c", oldContent},
                   {"client:_new_c", "half"}}
            << QStringList {"c"} << QStringList {"c"}
            << QStringList {"_old_a", "gone", "_new_b", "_old_c", "_new_c"};
        QTest::newRow("only a delete section")
            << QStringLiteral("[delete]\nx=1\ny=1\n") << Files {{"client:x", oldContent}} << QStringList()
            << QStringList() << QStringList {"x"};
        QTest::newRow("sections and keys in sorted order")
            << "[zeta]\n" + plainLine("z1", newContent) + "[alpha]\n" + plainLine("b", newContent)
                + plainLine("a", newContent)
            << Files() << QStringList {"a", "b", "z1"} << QStringList {"a", "b", "z1"} << QStringList();
        // A size listed wrong never decides alone: the file would be
        // replaced on every run.
        QTest::newRow("installed file of another size than listed, its digest right: current")
            << QStringLiteral("[files]\nlib/b.so=%1::%2\n").arg(md5(newContent)).arg(newContent.size() + 1)
            << Files {{"client:lib/b.so", newContent}} << QStringList() << QStringList() << QStringList();
        QTest::newRow("copy waiting of another size than listed, its digest right: replace only")
            << QStringLiteral("[files]\nlib/b.so=%1::%2\n").arg(md5(newContent)).arg(newContent.size() - 1)
            << Files {{"client:lib/b.so", oldContent}, {"temp:lib/b.so", newContent}} << QStringList()
            << QStringList {so} << QStringList();
        QTest::newRow("installed file cut short: not current")
            << "[files]\n" + plainLine(so, newContent) << Files {{"client:lib/b.so", newContent.left(10)}}
            << QStringList {so} << QStringList {so} << QStringList();
        QTest::newRow("copy waiting with extra bytes at its end: fetched again")
            << "[files]\n" + plainLine(so, newContent) << Files {{"temp:lib/b.so", newContent + "x"}}
            << QStringList {so} << QStringList {so} << QStringList();
        {
            // Checked on several threads at once; the lists keep the ini's order.
            QString ini = QStringLiteral("[files]\n");
            Files files;
            QStringList downloads;
            QStringList replaces;
            for (int i = 0; i < 60; ++i) {
                const QString path = QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0'));
                ini += plainLine(path, newContent + path.toUtf8());
                if (i % 3 == 0) {
                    files.insert("client:" + path, newContent + path.toUtf8());
                    continue;
                }
                replaces.append(path);
                if (i % 3 == 1)
                    files.insert("temp:" + path, newContent + path.toUtf8());
                else
                    downloads.append(path);
            }
            QTest::newRow("sixty files, some current, some waiting: lists in the ini's order")
                << ini << files << downloads << replaces << QStringList();
        }
        QTest::newRow("keys outside any section are ignored")
            << "stray=" + md5(newContent) + "::1\n[files]\n" + plainLine("a", newContent) << Files()
            << QStringList {"a"} << QStringList {"a"} << QStringList();
    }

    void compiles()
    {
        QFETCH(QString, ini);
        QFETCH(Files, files);
        QFETCH(QStringList, downloads);
        QFETCH(QStringList, replaces);
        QFETCH(QStringList, deletes);
        writeProductIni(ini.toUtf8());
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const QString where = it.key().section(QLatin1Char(':'), 0, 0);
            const QString path = it.key().section(QLatin1Char(':'), 1);
            const QString dir =
                where == QLatin1String("client") ? fixture->clientPath() : fixture->tempPath();
            QVERIFY(TestFiles::write(dir + QLatin1Char('/') + path, it.value()));
        }

        FileSpecifications lists;
        QCOMPARE(run(lists), int(TaskSpecification::Finished));
        QCOMPARE(keysOf(lists.downloadList), downloads);
        QCOMPARE(keysOf(lists.replaceList), replaces);
        QCOMPARE(lists.deleteList, deletes);
        QCOMPARE(fixture->log.first(), QStringLiteral("Compiling download and replace list"));
    }

    void choosesPatches_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("index");
        QTest::addColumn<Files>("files");
        QTest::addColumn<QStringList>("downloads");
        QTest::addColumn<QStringList>("patched"); // "<key> from <patch path>"
        QTest::addColumn<QString>("logged");

        const QString so = QStringLiteral("lib/b.so");
        const QString plain = "[files]\n" + plainLine(so, newContent);
        const Files oldInstalled {{"client:lib/b.so", oldContent}};
        QTest::newRow("installed copy is the patch's start: fetched as the patch")
            << plain << "[3]\n" + patchLine(so, oldContent, newContent) << oldInstalled << QStringList {so}
            << QStringList {"lib/b.so from p/lib/b.so"} << QString();
        QTest::newRow("installed copy differs from the start: the whole file")
            << plain << "[3]\n" + patchLine(so, "another start", newContent) << oldInstalled
            << QStringList {so} << QStringList() << QString();
        QTest::newRow("nothing installed: the whole file")
            << plain << "[3]\n" + patchLine(so, oldContent, newContent) << Files() << QStringList {so}
            << QStringList() << QString();
        QTest::newRow("patch to other content: the whole file")
            << plain << "[3]\n" + patchLine(so, oldContent, "other content") << oldInstalled
            << QStringList {so} << QStringList() << QString();
        QTest::newRow("patch as large as the file: the whole file")
            << plain << "[3]\n" + patchLine(so, oldContent, newContent, newContent.size()) << oldInstalled
            << QStringList {so} << QStringList() << QString();
        QTest::newRow("copy waiting: nothing fetched")
            << plain << "[3]\n" + patchLine(so, oldContent, newContent)
            << Files {{"client:lib/b.so", oldContent}, {"temp:lib/b.so", newContent}} << QStringList()
            << QStringList() << QString();
        QTest::newRow("two earlier versions: the one installed")
            << plain
            << "[2]\n" + patchLine(so, "version 2", newContent).replace("p/lib", "p2/lib") + "[3]\n"
                + patchLine(so, oldContent, newContent).replace("p/lib", "p3/lib")
            << oldInstalled << QStringList {so} << QStringList {"lib/b.so from p3/lib/b.so"} << QString();
        QTest::newRow("packed file: patched between unpacked contents")
            << "[files]\n" + packedLine("readme.txt.gz", "readme.txt", readme)
            << "[3]\n" + patchLine("readme.txt", oldContent, readme)
            << Files {{"client:readme.txt", oldContent}} << QStringList {"readme.txt.gz"}
            << QStringList {"readme.txt.gz from p/readme.txt"} << QString();
        QTest::newRow("a key names the patch's working file: the whole file")
            << plain + plainLine(so + ".corvane-patch", oldContent)
            << "[3]\n" + patchLine(so, oldContent, newContent) << oldInstalled
            << QStringList {so, so + ".corvane-patch"} << QStringList() << QString();
        QTest::newRow("index that does not read: ignored, whole files")
            << plain << "[three]\n" + patchLine(so, oldContent, newContent) << oldInstalled
            << QStringList {so} << QStringList()
            << QStringLiteral(
                   "Ignoring the patch index: section three does not name a version; changed files "
                   "are downloaded whole");
    }

    void choosesPatches()
    {
        QFETCH(QString, ini);
        QFETCH(QString, index);
        QFETCH(Files, files);
        QFETCH(QStringList, downloads);
        QFETCH(QStringList, patched);
        QFETCH(QString, logged);
        writeProductIni(ini.toUtf8());
        QVERIFY(TestFiles::write(
            fixture->tempPath(QStringLiteral("client_linux_amd64.patches.ini")), index.toUtf8()));
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const bool client = it.key().startsWith(QLatin1String("client:"));
            const QString path = it.key().section(QLatin1Char(':'), 1);
            QVERIFY(
                TestFiles::write(client ? fixture->clientPath(path) : fixture->tempPath(path), it.value()));
        }

        FileSpecifications lists;
        QCOMPARE(run(lists), int(TaskSpecification::Finished));
        QCOMPARE(keysOf(lists.downloadList), downloads);
        QStringList found;
        quint64 bytes = 0;
        for (const FileDownloadSpecification& download : std::as_const(lists.downloadList)) {
            bytes += download.patch ? 9 : download.size;
            if (!download.patch)
                continue;
            found.append(download.fileName + " from " + download.patch->remotePath);
            // What the patch gives is what the file installs.
            const FileReplaceSpecification& replace =
                lists.replaceList.at(keysOf(lists.replaceList).indexOf(download.fileName));
            QCOMPARE(download.patch->basePath, replace.pureDestFilePath());
            QCOMPARE(download.patch->resultMd5, replace.hasUnzip() ? replace.md5 : download.md5);
            QCOMPARE(download.patch->packed, replace.hasUnzip());
            QCOMPARE(download.patch->size, quint64(9));
        }
        QCOMPARE(found, patched);
        // A check reports the bytes the update will fetch.
        QCOMPARE(lists.summary().downloadBytes, bytes);
        if (!logged.isEmpty())
            QCOMPARE(fixture->count(logged), 1);
    }

    void recordsCarryTheProductIniFields()
    {
        writeProductIni(("[files]\n" + packedLine("doc/readme.txt.gz", "doc/readme.txt", readme)).toUtf8());
        FileSpecifications lists;
        QCOMPARE(run(lists), int(TaskSpecification::Finished));
        QCOMPARE(lists.downloadList.size(), 1);
        const QByteArray packed = TestFiles::gzip(readme);
        const FileDownloadSpecification& download = lists.downloadList.first();
        QCOMPARE(download.section, QStringLiteral("files"));
        QCOMPARE(download.md5, md5(packed));
        QCOMPARE(download.size, quint64(packed.size()));
        const FileReplaceSpecification& replace = lists.replaceList.first();
        QCOMPARE(replace.md5, md5(readme));
        QCOMPARE(replace.size, quint64(readme.size()));
        QCOMPARE(replace.unzipName, QStringLiteral("doc/readme.txt"));
    }

    // The installation checks what it writes against this digest, so a plain
    // file's record carries the download's own.
    void plainRecordCarriesTheDownloadDigest()
    {
        writeProductIni(("[files]\n" + plainLine("lib/b.so", newContent)).toUtf8());
        FileSpecifications lists;
        QCOMPARE(run(lists), int(TaskSpecification::Finished));
        QCOMPARE(lists.replaceList.value(0).md5, md5(newContent));
    }

    void refusesTheWholeProductIni_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("line");

        const QByteArray good = plainLine("a.txt", newContent).toUtf8();
        const QByteArray digest = md5(newContent).toLatin1();
        const QString invalid = QStringLiteral("Warning: product ini contains invalid line in section %1");
        const QString unsafe = QStringLiteral("Warning: product ini contains unsafe path %1 in section %2");

        QTest::newRow("no keys in any section")
            << QByteArray("[files]\n[delete]\n") << "No files in product ini";
        QTest::newRow("only keys outside sections") << QByteArray("a=1\n") << "No files in product ini";
        QTest::newRow("three fields") << "[aaa]\n" + good + "[files]\nb=" + digest + "::1::2\n"
                                      << invalid.arg("files");
        // Which values are entries at all is the product entry's own test.

        // A name that breaks lines would forge log lines.
        QTest::newRow("line break in a file name") << "[files]\na%0Aforged line.txt=" + digest + "::1\n"
                                                   << invalid.arg("files");
        // Values are read with C escapes: a backslash and an n make a line break.
        QTest::newRow("line break in the unpacked name") << "[files]\nb.gz=" + digest + "::1::" + digest
                + "::1::b\\nforged line.txt\n" << invalid.arg("files");
        QTest::newRow("Unicode line separator in a delete key")
            << "[delete]\nx%U2028y=1\n[files]\n" + good << invalid.arg("delete");
        QTest::newRow("control character in a section name, shown replaced")
            << "[fi%0Bles]\n" + good << invalid.arg(QStringLiteral("fi\uFFFDles"));
        QTest::newRow("key with a parent component") << "[files]\n../evil.so=" + digest + "::1\n"
                                                     << unsafe.arg("../evil.so", "files");
        QTest::newRow("key climbing out through a sub-directory")
            << "[aaa]\n" + good + "[files]\nlib/../../evil.so=" + digest + "::1\n"
            << unsafe.arg("lib/../../evil.so", "files");
        QTest::newRow("key with escaped separators") << "[files]\n..%2F..%2Fevil.so=" + digest + "::1\n"
                                                     << unsafe.arg("../../evil.so", "files");
        QTest::newRow("key with backslash separators") << "[files]\n..\\..\\evil.so=" + digest + "::1\n"
                                                       << unsafe.arg("../../evil.so", "files");
        QTest::newRow("key that is a parent") << "[files]\n..=" + digest + "::1\n"
                                              << unsafe.arg("..", "files");
        QTest::newRow("absolute unpacked path") << "[files]\nb.gz=" + digest + "::1::" + digest
                + "::1::/tmp/evil\n" << unsafe.arg("/tmp/evil", "files");
        QTest::newRow("unpacked path with a parent component") << "[files]\nb.gz=" + digest + "::1::" + digest
                + "::1::x/../../evil\n" << unsafe.arg("x/../../evil", "files");
        QTest::newRow("unpacked path naming the client directory itself") << "[files]\nb.gz=" + digest
                + "::1::" + digest + "::1::.\n" << unsafe.arg(".", "files");
        QTest::newRow("delete key with a parent component")
            << "[delete]\n../victim=1\n[files]\n" + good << unsafe.arg("../victim", "delete");
        QTest::newRow("delete key with escaped separators")
            << QByteArray("[delete]\nsub%2F..%2F..%2Fvictim=1\n") << unsafe.arg("sub/../../victim", "delete");
        // The updater would take these for its own leftovers: it would delete
        // "_new_a" as one on every run, and "_old_a" before replacing "a".
        const QString invalidName =
            QStringLiteral("Warning: product ini contains invalid name %1 in section %2: %3");
        const QString reserved = QStringLiteral("a name starting with \"%1\", which the updater reserves");
        QTest::newRow("file beside one named like its new content")
            << "[files]\n" + good + "_new_a.txt=" + digest + "::1\n"
            << invalidName.arg("_new_a.txt", "files", reserved.arg("_new_"));
        QTest::newRow("deleting a working name") << "[delete]\n_old_x=1\n[files]\n"
                + good << invalidName.arg("_old_x", "delete", reserved.arg("_old_"));
        // With "_new_" before it, the name would not fit the file system.
        const QByteArray longName(251, 'n');
        QTest::newRow("name of 251 bytes")
            << "[files]\n" + longName + "=" + digest + "::1\n"
            << invalidName.arg(QString::fromLatin1(longName), "files", "a name longer than 250 bytes");
        const QString twice =
            QStringLiteral("Warning: product ini lists %1 more than once, again in section %2");
        // The settings reader would keep only the later of the two.
        QTest::newRow("same key twice in a section")
            << "[files]\n" + good + good << twice.arg("a.txt", "files");
        QTest::newRow("same key in two parts of a section, spelt two ways")
            << "[files]\nlib/a=" + digest + "::1\n[other]\n" + good + "[files]\nlib%2Fa=" + digest + "::1\n"
            << twice.arg("lib/a", "files");
        QTest::newRow("same file in two sections")
            << "[aaa]\n" + good + "[files]\n" + good << twice.arg("a.txt", "files");
        QTest::newRow("packed entry unpacking onto a plain entry")
            << "[files]\n" + good + "a.txt.gz=" + digest + "::1::" + digest + "::1::a.txt\n"
            << twice.arg("a.txt", "files");
        QTest::newRow("delete key naming a file the release installs")
            << "[delete]\na.txt=1\n[files]\n" + good << twice.arg("a.txt", "files");
        QTest::newRow("file the release installs named in a later delete section") << "[aaa]\n" + good
                + "[delete]\na.txt=1\n" << twice.arg("a.txt", "delete");
    }

    void refusesTheWholeProductIni()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, line);
        writeProductIni(ini);
        // What an earlier run published must survive a refused one.
        FileSpecifications lists;
        lists.deleteList.append(QStringLiteral("kept"));
        lists.downloadList.append(
            FileDownloadSpecification {QStringLiteral("s"), QStringLiteral("kept"), {}, 1});

        QCOMPARE(run(lists), int(TaskSpecification::ErrorCanceled));
        QCOMPARE(fixture->log.last(), line);
        QCOMPARE(lists.deleteList, QStringList {"kept"});
        QCOMPARE(keysOf(lists.downloadList), QStringList {"kept"});
        QVERIFY(lists.replaceList.isEmpty());
    }

    // Without its program, its mirrors, its settings or its lock the next
    // run fails; the rest of the release is installed all the same.
    void passesOverTheUpdatersOwnFiles()
    {
        writeProductIni("[delete]\nmirrors.ini=\nold.txt=\nupdate=\nupdate.ini=\nupdate.lock=\n");
        StageFixture::writeFiles(fixture->clientPath(),
            {"mirrors.ini=m", "old.txt=o", "update=u", "update.ini=i", "update.lock="});
        FileSpecifications lists;
        QCOMPARE(run(lists), int(TaskSpecification::Finished));
        QCOMPARE(lists.deleteList, QStringList {"old.txt"});
        const QString refused = QStringLiteral("Refusing to delete %1: one of the updater's own files");
        QCOMPARE(fixture->log.mid(1),
            (QStringList {refused.arg("mirrors.ini"), refused.arg("update"), refused.arg("update.ini"),
                refused.arg("update.lock")}));
    }

    void missingProductIniIsEmpty()
    {
        FileSpecifications lists;
        QCOMPARE(run(lists), int(TaskSpecification::ErrorCanceled));
        QCOMPARE(fixture->log.last(), QStringLiteral("No files in product ini"));
    }

    void anotherRunStartsFromEmptyLists()
    {
        writeProductIni(("[files]\n" + plainLine("a", newContent)).toUtf8());
        FileSpecifications lists;
        MakeDownloadReplaceListTaskSpecification task(fixture->parameters, lists, nullptr, 1.0);
        QCOMPARE(fixture->run(&task), int(TaskSpecification::Finished));
        task.reset();
        QCOMPARE(fixture->run(&task), int(TaskSpecification::Finished));
        QCOMPARE(keysOf(lists.downloadList), QStringList {"a"});
        QCOMPARE(task.progress(), 1.0);
    }

private:
    void writeProductIni(const QByteArray& text)
    {
        QVERIFY(TestFiles::write(fixture->tempPath(QStringLiteral("client_linux_amd64.ini")), text));
    }

    int run(FileSpecifications& lists)
    {
        MakeDownloadReplaceListTaskSpecification task(fixture->parameters, lists, nullptr, 1.0);
        return fixture->run(&task);
    }

    std::unique_ptr<StageFixture> fixture;
};

QTEST_GUILESS_MAIN(TestMakeDownloadReplaceList)
#include "tst_makedownloadreplacelist.moc"
