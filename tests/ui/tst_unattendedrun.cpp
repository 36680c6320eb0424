// The program as a whole: "update --nouser <type> <version> #" against a
// release on a loopback mirror updates its client directory, starts the
// client's script by itself and ends with 0.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "app/configuration.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testrelease.h"

class TestUnattendedRun : public QObject {
    Q_OBJECT

private slots:
    void updatesAndStartsTheClient();
};

void TestUnattendedRun::updatesAndStartsTheClient()
{
    if (!TestRelease::hasSigningKey())
        QSKIP("this build embeds a publisher's key; no release can be signed");
    QTemporaryDir root;
    QVERIFY(root.isValid());
    root.setAutoRemove(false); // kept as evidence unless the run succeeds
    const QString client = root.filePath(QStringLiteral("client dir"));
    QVERIFY(QDir().mkpath(client));
    QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("tmp"))));

    const QString built = qEnvironmentVariable("CORVANE_TEST_BINARY_DIR") + QStringLiteral("/update");
    const QString binary = client + QStringLiteral("/update");
    QVERIFY2(QFile::copy(built, binary), qPrintable(built));
    const QString script = client + QLatin1Char('/') + Configuration::getClientBinaryName();
    QVERIFY(TestFiles::write(script, "#!/bin/sh\necho started > \"$(dirname \"$0\")/client-started\"\n"));
    QVERIFY(QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner));
    QVERIFY(TestFiles::write(client + QStringLiteral("/a.txt"), "old alpha"));

    TestHttpServer server;
    QVERIFY(server.listen());
    TestRelease release;
    release.addFile(QStringLiteral("a.txt"), "new alpha");
    release.addPackedFile(QStringLiteral("lib/b.so.gz"), QStringLiteral("lib/b.so"), "beta");
    release.serve(server, QStringLiteral("A"));
    QVERIFY(TestRelease::writeMirrorsIni(client + QStringLiteral("/mirrors.ini"), server, {"A"}));

    QProcess updater;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("TMPDIR"), root.filePath(QStringLiteral("tmp")));
    environment.insert(QStringLiteral("CORVANE_BANNER_SERVER"), QStringLiteral("127.0.0.1:9"));
    updater.setProcessEnvironment(environment);
    updater.setWorkingDirectory(client);
    updater.setProcessChannelMode(QProcess::ForwardedChannels);
    updater.start(binary,
        {QStringLiteral("--nouser"), Configuration::getUpdateType(), QString::number(release.version()),
            QStringLiteral("#")});
    QVERIFY(updater.waitForStarted(5000));
    // The updater needs this process's event loop: the mirror lives here.
    QTRY_COMPARE_WITH_TIMEOUT(updater.state(), QProcess::NotRunning, 60000);

    QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
    QCOMPARE(updater.exitCode(), 0);
    QCOMPARE(TestFiles::read(client + QStringLiteral("/a.txt")), QByteArray("new alpha"));
    QCOMPARE(TestFiles::read(client + QStringLiteral("/lib/b.so")), QByteArray("beta"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(client + QStringLiteral("/client-started")), 5000);
    root.remove();
}

QTEST_MAIN(TestUnattendedRun)
#include "tst_unattendedrun.moc"
