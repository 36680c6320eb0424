// The whole product against a real web server: the real updater binary copied
// into a client directory, releases made by corvane-publish and served by
// nginx on loopback, versions told by corvane-updateserver. Kills, corrupt
// mirrors and a proxy included. The window's unattended run is played once
// from start to client start; the other scenes run the console form, the
// same engine without the window's fixed delays (two seconds before the
// start, one before the client starts).
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QUrl>

#include "app/configuration.h"
#include "scene.h"
#include "testfiles.h"
#include "testsigning.h"
#include "toolprocess.h"
#include "ui/changelogviewer.h"
#include "updaterrun.h"
#include "updateserverprocess.h"

namespace {

// An update to version 2.
const QStringList toVersion2 {QStringLiteral("--console"), clientType, QStringLiteral("2")};

// The paths a site served, as the updater asked for them (URL-decoded).
QStringList servedPaths(const NginxServer& nginx, int site)
{
    static const QRegularExpression request(QStringLiteral("^GET (\\S+) HTTP/[0-9.]+ (\\d+)$"));
    QStringList paths;
    for (const QString& line : nginx.accessLog(site)) {
        const QRegularExpressionMatch match = request.match(line);
        if (match.hasMatch())
            paths.append(
                QUrl::fromPercentEncoding(match.captured(1).toUtf8()) + QLatin1Char(' ') + match.captured(2));
    }
    return paths;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void freshInstallWithTheReferenceServer();
    void incrementalUpdateFetchesOnlyWhatChanged_data();
    void incrementalUpdateFetchesOnlyWhatChanged();
    void killedRunIsCompletedByTheNext_data();
    void killedRunIsCompletedByTheNext();
    void corruptMirrorIsLeftForAGoodOne();
    void republishedReleaseIsPickedUpByTheNextRun();
    void badSignatureIsFetchedTwiceNotAThousandTimes();
    void proxyFromUpdateIniCarriesEveryRequest();
    void changeLogComesThroughNginx();
    void releaseStatementAloneUpdatesWithUdpBlocked();
    void keysOfOtherSizesUpdateEndToEnd_data();
    void keysOfOtherSizesUpdateEndToEnd();
};

void TestEndToEnd::initTestCase()
{
    if (NginxServer::binary().isEmpty())
        QSKIP("nginx is not installed (scripts/setup.sh installs it); the end-to-end tests need a real web "
              "server");
    if (TestSigning::devPrivateKeyPath().isEmpty())
        QSKIP("This build embeds a publisher's key; the end-to-end tests sign with the development key");
}

void TestEndToEnd::freshInstallWithTheReferenceServer()
{
    Scene scene;
    QVERIFY(scene.installClient({}));
    QVERIFY(scene.publish(2, Scene::version2(), {}));
    QVERIFY2(scene.serveMirror(), qPrintable(scene.nginx.errorText()));
    UpdateServerProcess server;
    QVERIFY2(server.start(
                 QStringLiteral(CORVANE_UPDATESERVER), {QStringLiteral("--stable"), QStringLiteral("2#2.0")}),
        qPrintable(server.errorText()));
    scene.updateServer = server.versionServer();

    UpdaterRun run;
    QVERIFY(run.start(scene, {QStringLiteral("--nouser")}));
    QCOMPARE(run.waitForExit(runTimeoutMs), 0);
    QTRY_VERIFY2_WITH_TIMEOUT(
        server.log().contains(QStringLiteral("version query")), qPrintable(server.log()), 5000);
    QCOMPARE(scene.releaseFilesInClient(), Scene::version2());
    QTRY_COMPARE_WITH_TIMEOUT(scene.clientStarts(), 1, 5000);
    QVERIFY2(run.log().contains(QStringLiteral("Update successfully finished")),
        qPrintable(diagnostics(scene, run)));
    QCOMPARE(scene.tempLeftovers(), QStringList());
}

void TestEndToEnd::incrementalUpdateFetchesOnlyWhatChanged_data()
{
    QTest::addColumn<bool>("patches");
    QTest::newRow("whole files") << false;
    // The library changed in a few bytes: a patch from version 1 stands in
    // for it; the rest is too small or too new to patch.
    QTest::newRow("published with patches from version 1") << true;
}

void TestEndToEnd::incrementalUpdateFetchesOnlyWhatChanged()
{
    QFETCH(bool, patches);
    Scene scene;
    QVERIFY(scene.installClient(Scene::version1()));
    QStringList extra;
    if (patches) {
        QVERIFY(scene.publish(1, Scene::version1(), {}));
        extra << QStringLiteral("--delta-from") << scene.mirror() + QStringLiteral("/1");
    }
    QVERIFY(scene.publish(2, Scene::version2(), Scene::version1(), extra));
    QVERIFY2(scene.serveMirror(), qPrintable(scene.nginx.errorText()));

    UpdaterRun run;
    QVERIFY(run.start(scene, toVersion2));
    QCOMPARE(run.waitForExit(runTimeoutMs), 0);
    QCOMPARE(scene.releaseFilesInClient(), Scene::version2());

    QStringList served = servedPaths(scene.nginx, 0);
    served.sort();
    QStringList expected {QStringLiteral("/2/client_linux_amd64.ini 200"),
        QStringLiteral("/2/client_linux_amd64.ini.sig256 200"),
        QStringLiteral("/2/client_linux_amd64.patches.ini %1").arg(patches ? 200 : 404)};
    if (patches) {
        expected << QStringLiteral("/2/client_linux_amd64.patches.ini.sig256 200")
                 << QStringLiteral("/2/patches/1/lib/libcorvane.so 200");
    }
    for (const QString& changed : {QStringLiteral("readme.txt"), QStringLiteral("lib/libcorvane.so"),
             QStringLiteral("docs/Neue Datei, mit Komma.txt"), QStringLiteral("docs/Grüße an alle.txt")}) {
        if (!patches || !changed.startsWith(QLatin1String("lib/")))
            expected.append(QStringLiteral("/2/client/%1 200").arg(changed));
    }
    expected.sort();
    QCOMPARE(served, expected);
}

void TestEndToEnd::killedRunIsCompletedByTheNext_data()
{
    QTest::addColumn<QString>("killAt");
    QTest::newRow("killed during the downloads") << QStringLiteral("Downloading files");
    QTest::newRow("killed during the installation") << QStringLiteral("Starting file updates");
}

void TestEndToEnd::killedRunIsCompletedByTheNext()
{
    QFETCH(QString, killAt);
    const bool duringDownloads = killAt == QLatin1String("Downloading files");
    Scene scene;
    // Big enough that a transfer at the slow site's rate, or the unpacking,
    // is still running when the kill comes.
    const Files release = Scene::bigVersion2();
    QVERIFY(scene.installClient(Scene::version1()));
    QVERIFY(scene.publish(2, release, Scene::version1(), {QStringLiteral("--gzip")}));
    QVERIFY2(scene.serveMirrorTwice(duringDownloads), qPrintable(scene.nginx.errorText()));
    const QStringList args = toVersion2 + QStringList {QStringLiteral("--start-client")};

    {
        UpdaterRun first;
        QVERIFY(first.start(scene, args));
        QVERIFY2(first.waitForLog(killAt, runTimeoutMs), qPrintable(diagnostics(scene, first)));
        // Cut once bytes of the trickled file have arrived, or as soon as
        // the client directory changes.
        if (duringDownloads)
            QTRY_VERIFY_WITH_TIMEOUT(scene.downloadArrived(QStringLiteral("payload.bin")), 20000);
        else
            scene.waitForInstallation(20000);
        first.killHard();
        QVERIFY2(
            !first.log().contains(QStringLiteral("Update successfully finished")), qPrintable(first.log()));
        if (!duringDownloads)
            QVERIFY2(scene.installationUnderWay(), "the kill came before the installation changed anything");
    }
    QCOMPARE(scene.clientStarts(), 0);

    QVERIFY(scene.writeMirrorsIni({scene.nginx.url(1)}));
    UpdaterRun second;
    QVERIFY(second.start(scene, args));
    QCOMPARE(second.waitForExit(runTimeoutMs), 0);
    QVERIFY2(second.log().contains(QStringLiteral("Update successfully finished")),
        qPrintable(diagnostics(scene, second)));
    // Exactly the release: nothing missing, nothing left over ("_old_" copies included).
    const QStringList wrong = Scene::differences(release, scene.releaseFilesInClient());
    QVERIFY2(
        wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(", ")) + QLatin1Char('\n') + second.log()));
    QTRY_COMPARE_WITH_TIMEOUT(scene.clientStarts(), 1, 5000);
    QCOMPARE(scene.tempLeftovers(), QStringList());
}

void TestEndToEnd::corruptMirrorIsLeftForAGoodOne()
{
    Scene scene;
    QVERIFY(scene.installClient(Scene::version1()));
    QVERIFY(scene.publish(2, Scene::version2(), Scene::version1()));
    // The bad mirror serves the same tree with every release file spoilt
    // (same size, one byte changed); the product ini and its signature are good.
    const QString bad = scene.path(QStringLiteral("bad-mirror"));
    QDirIterator it(scene.mirror(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        QByteArray content = TestFiles::read(file);
        const QString relative = QDir(scene.mirror()).relativeFilePath(file);
        if (relative.startsWith(QStringLiteral("2/client/")))
            content[0] = char(content.at(0) ^ 0x55);
        QVERIFY(TestFiles::write(bad + QLatin1Char('/') + relative, content));
    }
    QVERIFY2(scene.nginx.start(scene.path(QStringLiteral("nginx")), {{scene.mirror()}, {bad}}),
        qPrintable(scene.nginx.errorText()));
    QVERIFY(scene.writeMirrorsIni({scene.nginx.url(0), scene.nginx.url(1)}));

    UpdaterRun run;
    QVERIFY(run.start(scene, toVersion2));
    QCOMPARE(run.waitForExit(runTimeoutMs), 0);
    QCOMPARE(scene.releaseFilesInClient(), Scene::version2());

    // Every spoilt file that reached the updater was thrown away and fetched
    // again from the good mirror.
    const QStringList good = servedPaths(scene.nginx, 0);
    for (const QString& served : servedPaths(scene.nginx, 1)) {
        if (!served.startsWith(QStringLiteral("/2/client/")))
            continue;
        const QString file = served.section(QLatin1Char(' '), 0, -2).mid(int(qstrlen("/2/client/")));
        QVERIFY2(
            run.log().contains(QStringLiteral("md5 sum for %1 failed").arg(file)), qPrintable(run.log()));
        QVERIFY2(good.contains(QStringLiteral("/2/client/%1 200").arg(file)),
            qPrintable(good.join(QLatin1Char('\n'))));
    }
}

void TestEndToEnd::republishedReleaseIsPickedUpByTheNextRun()
{
    Scene scene;
    QVERIFY(scene.installClient(Scene::version1()));
    QVERIFY(scene.publish(2, Scene::version2(), Scene::version1()));
    QVERIFY2(scene.serveMirror(), qPrintable(scene.nginx.errorText()));
    // A file of version 2 is missing on the mirror: the run fails and keeps
    // the product ini it has verified, for the next run.
    QVERIFY(QFile::remove(scene.mirror() + QStringLiteral("/2/client/readme.txt")));
    {
        UpdaterRun failed;
        QVERIFY(failed.start(scene, toVersion2));
        QCOMPARE(failed.waitForExit(runTimeoutMs), 2);
    }
    QCOMPARE(scene.releaseFilesInClient(), Scene::version1());

    // The publisher mends the release and publishes version 2 again.
    Files mended = Scene::version2();
    mended.insert(QStringLiteral("readme.txt"), "Corvane 2, published again\n");
    QVERIFY(scene.publish(2, mended, Scene::version1(), {QStringLiteral("--force")}));

    UpdaterRun next;
    QVERIFY(next.start(scene, toVersion2));
    QCOMPARE(next.waitForExit(runTimeoutMs), 0);
    QVERIFY2(next.log().contains(QStringLiteral("The product ini kept from an earlier run does not match the "
                                                "mirror's signature; fetching it again")),
        qPrintable(next.log()));
    QCOMPARE(scene.releaseFilesInClient(), mended);
}

void TestEndToEnd::badSignatureIsFetchedTwiceNotAThousandTimes()
{
    Scene scene;
    QVERIFY(scene.installClient(Scene::version1()));
    QVERIFY(scene.publish(2, Scene::version2(), Scene::version1()));
    QVERIFY2(scene.serveMirror(), qPrintable(scene.nginx.errorText()));
    // A signature that does not fit: the same bytes however often asked.
    // The publisher wrote a .sig256, so that is the one the updater reads.
    QVERIFY(TestFiles::write(
        scene.mirror() + QStringLiteral("/2/client_linux_amd64.ini.sig256"), QByteArray(384, 'x')));

    UpdaterRun run;
    QVERIFY(run.start(scene, toVersion2));
    QCOMPARE(run.waitForExit(runTimeoutMs), 2);
    QCOMPARE(run.log().count(QStringLiteral("Could not verify the product ini file. Retrying")), 1);
    QVERIFY2(
        run.log().contains(QStringLiteral("the mirrors send the same product ini and signature that failed "
                                          "before. Aborting")),
        qPrintable(run.log()));
    QCOMPARE(servedPaths(scene.nginx, 0).count(QStringLiteral("/2/client_linux_amd64.ini 200")), 2);
    QCOMPARE(scene.releaseFilesInClient(), Scene::version1());
}

void TestEndToEnd::proxyFromUpdateIniCarriesEveryRequest()
{
    Scene scene;
    QVERIFY(scene.installClient(Scene::version1()));
    QVERIFY(scene.publish(2, Scene::version2(), Scene::version1()));
    QVERIFY2(scene.serveMirrorThroughProxy(), qPrintable(scene.nginx.errorText()));

    UpdaterRun run;
    QVERIFY(run.start(scene, toVersion2));
    QCOMPARE(run.waitForExit(runTimeoutMs), 0);
    QCOMPARE(scene.releaseFilesInClient(), Scene::version2());

    // The proxy saw each request in absolute form and passed it on; the
    // mirror saw nothing that did not come through it.
    QStringList atMirror = servedPaths(scene.nginx, 0);
    QStringList atProxy = servedPaths(scene.nginx, 1);
    const QString mirrorUrl = scene.nginx.url(0);
    for (QString& line : atProxy) {
        QVERIFY2(line.startsWith(mirrorUrl), qPrintable(line));
        line = line.mid(mirrorUrl.size());
    }
    atMirror.sort();
    atProxy.sort();
    QVERIFY(atMirror.size() >= 5);
    QCOMPARE(atProxy, atMirror);
}

void TestEndToEnd::changeLogComesThroughNginx()
{
    Scene scene;
    QVERIFY(scene.installClient(Scene::version1()));
    QVERIFY(scene.publish(2, Scene::version2(), Scene::version1()));
    QVERIFY2(scene.serveMirror(), qPrintable(scene.nginx.errorText()));

    // The viewer reads mirrors.ini from the client directory, as in the updater.
    Configuration::setAppRootPathOverride(scene.client());
    ChangeLogViewer::showRemoteChangeLogDialog(nullptr, QStringLiteral("2"));
    QTextEdit* text = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!text)
            text = widget->findChild<QTextEdit*>(QStringLiteral("changeLogTextEdit"));
    }
    QVERIFY(text);
    QTRY_COMPARE_WITH_TIMEOUT(text->toPlainText(), QStringLiteral("Version 2: all new\n"), 10000);
    QCOMPARE(servedPaths(scene.nginx, 0), QStringList {QStringLiteral("/2/changelog_client.txt 200")});
    text->window()->close();
    Configuration::setAppRootPathOverride(QString());
}

// Behind a network that lets HTTP out through a proxy and nothing else, the
// signed statement on the mirror names the version and the news.
void TestEndToEnd::releaseStatementAloneUpdatesWithUdpBlocked()
{
    Scene scene;
    QVERIFY(scene.installClient(Scene::version1()));
    QVERIFY(TestFiles::write(scene.path(QStringLiteral("news.html")), "<b>Version 2</b> is here\n"));
    QVERIFY(scene.publish(2, Scene::version2(), Scene::version1(),
        {QStringLiteral("--channel"), QStringLiteral("stable"), QStringLiteral("--display"),
            QStringLiteral("2.0"), QStringLiteral("--news"), scene.path(QStringLiteral("news.html"))}));
    QVERIFY2(scene.serveMirrorThroughProxy(), qPrintable(scene.nginx.errorText()));
    // Nobody answers the version query (scene.updateServer stays unset).

    UpdaterRun run;
    QVERIFY(run.start(scene, {QStringLiteral("--console")}));
    QVERIFY2(run.waitForExit(runTimeoutMs) == 0, qPrintable(diagnostics(scene, run)));
    QVERIFY2(run.log().contains(QStringLiteral(
                 "Following the release statement of client_linux_amd64 for the stable channel: version 2")),
        qPrintable(diagnostics(scene, run)));
    QVERIFY2(run.out().startsWith(QStringLiteral("Updated to 2.0: ")), qPrintable(run.out()));
    QCOMPARE(scene.releaseFilesInClient(), Scene::version2());
    const QStringList viaProxy = servedPaths(scene.nginx, 1);
    QVERIFY2(viaProxy.contains(scene.nginx.url(0) + QStringLiteral("/client_linux_amd64.channels 200")),
        qPrintable(viaProxy.join(QLatin1Char('\n'))));
    // The next run compares the next statement with this one's issue time.
    QSettings updateIni(scene.client() + QStringLiteral("/update.ini"), QSettings::IniFormat);
    QCOMPARE(updateIni.value(QStringLiteral("installed/version")).toInt(), 2);
    QVERIFY(updateIni.value(QStringLiteral("installed/stableStatement")).toDateTime().isValid());
}

void TestEndToEnd::keysOfOtherSizesUpdateEndToEnd_data()
{
    QTest::addColumn<QString>("updater"); // the folder of the updater and of the key pairs it trusts
    QTest::addColumn<QString>("signedWith"); // the folder of the private key, or empty for the build's
    QTest::addColumn<bool>("installs");
    QTest::newRow("3072-bit key") << "key3072"
                                  << "key3072" << true;
    QTest::newRow("4096-bit key") << "key4096"
                                  << "key4096" << true;
    QTest::newRow("4096-bit updater, release signed with another key") << "key4096"
                                                                       << "" << false;
    QTest::newRow("two trusted keys, release signed by the second") << "twokeys"
                                                                    << "key4096" << true;
    QTest::newRow("two trusted keys, release signed by an unknown key") << "twokeys"
                                                                        << "" << false;
}

// A publisher's key pair from corvane-keytool: its public half built into the
// updater (with another one, for two keys), its private half given to
// corvane-publish.
void TestEndToEnd::keysOfOtherSizesUpdateEndToEnd()
{
    QFETCH(QString, updater);
    QFETCH(QString, signedWith);
    QFETCH(bool, installs);
    const QString keys = QStringLiteral(CORVANE_KEYS_DIR "/");
    Scene scene;
    if (!signedWith.isEmpty())
        scene.signingKey = keys + signedWith + QStringLiteral("/private.key");
    QVERIFY(
        scene.installClient(Scene::version1(), TestFiles::read(keys + updater + QStringLiteral("/update"))));
    QVERIFY(scene.publish(2, Scene::version2(), Scene::version1(), {QStringLiteral("--gzip")}));
    if (updater != QLatin1String("twokeys")) {
        const auto verified = ToolProcess::run(QStringLiteral(CORVANE_PUBLISH),
            {QStringLiteral("--verify"), scene.mirror() + QStringLiteral("/2"), QStringLiteral("--key"),
                keys + updater + QStringLiteral("/public.key")});
        QCOMPARE(verified.exitCode, installs ? 0 : 1);
    }
    QVERIFY2(scene.serveMirror(), qPrintable(scene.nginx.errorText()));

    // The updater names every key it trusts.
    const ToolProcess::Result version = UpdaterRun::runToEnd(scene, {QStringLiteral("--version")});
    const QStringList trusted = updater == QLatin1String("twokeys")
        ? QStringList {QStringLiteral("key3072"), QStringLiteral("key4096")}
        : QStringList {updater};
    QCOMPARE(version.out.count(QStringLiteral("Release signing key: ")), trusted.size());
    for (const QString& pair : trusted) {
        const auto fingerprint = ToolProcess::run(QStringLiteral(CORVANE_KEYTOOL),
            {QStringLiteral("fingerprint"), keys + pair + QStringLiteral("/public.key")});
        QVERIFY2(version.out.contains(QStringLiteral("Release signing key: %1\n")
                                          .arg(fingerprint.out.section(QLatin1Char(' '), 0, 0))),
            qPrintable(version.out));
    }

    UpdaterRun run;
    QVERIFY(run.start(scene, toVersion2));
    if (installs) {
        QCOMPARE(run.waitForExit(runTimeoutMs), 0);
        QVERIFY2(run.log().contains(QStringLiteral("Update successfully finished")),
            qPrintable(diagnostics(scene, run)));
        QCOMPARE(scene.releaseFilesInClient(), Scene::version2());
    } else {
        QVERIFY2(run.waitForLog(QStringLiteral("Could not verify the product ini file"), runTimeoutMs),
            qPrintable(diagnostics(scene, run)));
        QCOMPARE(scene.releaseFilesInClient(), Scene::version1());
    }
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
