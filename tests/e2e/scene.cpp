// One scene of an end-to-end test.
#include "scene.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "mirrorsini.h"
#include "testfiles.h"
#include "testsigning.h"
#include "toolprocess.h"
#include "updaterrun.h"

namespace {

// What the client directory holds besides the release: the updater, its
// settings, its lock file and the start script.
const QStringList localFiles {QStringLiteral("update"), QStringLiteral("mirrors.ini"),
    QStringLiteral("update.ini"), QStringLiteral("update.lock"), QStringLiteral("davuzodur_runscript.sh")};

} // namespace

bool Scene::installClient(const Files& files, const QByteArray& updaterBytes) const
{
    if (!QDir().mkpath(client()) || !QDir().mkpath(path(QStringLiteral("tmp"))))
        return false;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (!TestFiles::write(client() + QLatin1Char('/') + it.key(), it.value()))
            return false;
    }
    const QString script = client() + QStringLiteral("/davuzodur_runscript.sh");
    const QByteArray body = "#!/bin/sh\necho started >> '" + QFile::encodeName(startedLog()) + "'\n";
    const auto executable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const QString updater = client() + QStringLiteral("/update");
    return TestFiles::write(script, body) && QFile::setPermissions(script, executable)
        && TestFiles::write(updater, updaterBytes.isEmpty() ? builtUpdater() : updaterBytes)
        && QFile::setPermissions(updater, executable);
}

bool Scene::publish(int version, const Files& files, const Files& previous, QStringList extra) const
{
    const QString release = path(QStringLiteral("release-%1").arg(version));
    const QString before = path(QStringLiteral("previous-%1").arg(version));
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (!TestFiles::write(release + QLatin1Char('/') + it.key(), it.value()))
            return false;
    }
    for (auto it = previous.cbegin(); it != previous.cend(); ++it) {
        if (!TestFiles::write(before + QLatin1Char('/') + it.key(), it.value()))
            return false;
    }
    if (!QDir().mkpath(before)
        || !TestFiles::write(path(QStringLiteral("changes.txt")), "Version 2: all new\n"))
        return false;
    extra << QStringLiteral("--version") << QString::number(version) << QStringLiteral("--key")
          << (signingKey.isEmpty() ? TestSigning::devPrivateKeyPath() : signingKey)
          << QStringLiteral("--previous") << before << QStringLiteral("--changelog")
          << path(QStringLiteral("changes.txt"));
    const auto result =
        ToolProcess::run(QStringLiteral(CORVANE_PUBLISH), QStringList {release, mirror()} + extra);
    if (result.exitCode != 0)
        qWarning("corvane-publish: %s", qPrintable(result.err));
    return result.exitCode == 0;
}

bool Scene::serveMirror()
{
    return nginx.start(path(QStringLiteral("nginx")), {{mirror()}}) && writeMirrorsIni({nginx.url(0)});
}

bool Scene::serveMirrorTwice(bool trickled)
{
    return nginx.start(path(QStringLiteral("nginx")), {{mirror(), false, 64 * 1024}, {mirror()}})
        && writeMirrorsIni({nginx.url(trickled ? 0 : 1)});
}

bool Scene::serveMirrorThroughProxy()
{
    NginxServer::Site proxy;
    proxy.proxy = true;
    return nginx.start(path(QStringLiteral("nginx")), {{mirror()}, proxy}) && writeMirrorsIni({nginx.url(0)})
        && TestFiles::write(
            client() + QStringLiteral("/update.ini"), "[update]\nproxy=" + nginx.url(1).toUtf8() + "\n");
}

bool Scene::writeMirrorsIni(const QStringList& urls) const
{
    QList<MirrorsFixture::Entry> mirrors;
    for (int i = 0; i < urls.size(); ++i)
        mirrors.append({QStringLiteral("m%1").arg(i + 1), urls.at(i)});
    return TestFiles::write(client() + QStringLiteral("/mirrors.ini"), MirrorsFixture::ini(mirrors));
}

QProcessEnvironment Scene::environment() const
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
    // Nobody answers there: the banner stays empty and costs nothing.
    env.insert(QStringLiteral("CORVANE_BANNER_SERVER"), QStringLiteral("127.0.0.1:9"));
    env.insert(QStringLiteral("CORVANE_UPDATE_SERVER"),
        updateServer.isEmpty() ? QStringLiteral("127.0.0.1:9") : updateServer);
    return env;
}

Files Scene::releaseFilesInClient() const
{
    Files files;
    QDirIterator it(client(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString relative = QDir(client()).relativeFilePath(file);
        if (!localFiles.contains(relative))
            files.insert(relative, TestFiles::read(file));
    }
    return files;
}

QStringList Scene::tempLeftovers() const
{
    return QDir(path(QStringLiteral("tmp"))).entryList({QStringLiteral("corvane_temp_*")}, QDir::AllEntries);
}

int Scene::clientStarts() const
{
    return int(TestFiles::read(startedLog()).count("started"));
}

bool Scene::downloadArrived(const QString& name) const
{
    return QDirIterator(path(QStringLiteral("tmp")), {name}, QDir::Files, QDirIterator::Subdirectories)
        .hasNext();
}

bool Scene::installationUnderWay() const
{
    if (QFileInfo::exists(client() + QStringLiteral("/zz/huge.txt")))
        return true;
    QDirIterator it(client(), {QStringLiteral("_old_*"), QStringLiteral("_new_*")}, QDir::Files,
        QDirIterator::Subdirectories);
    return it.hasNext();
}

bool Scene::waitForInstallation(int timeoutMs) const
{
    QElapsedTimer waited;
    waited.start();
    while (!installationUnderWay() && waited.elapsed() < timeoutMs)
        QThread::usleep(200);
    return installationUnderWay();
}

Files Scene::version1()
{
    return {
        {QStringLiteral("readme.txt"), "Corvane 1\n"},
        {QStringLiteral("lib/libcorvane.so"), TestFiles::noise(20000, 1)},
        {QStringLiteral("data/same.dat"), "unchanged in every version\n"},
        {QStringLiteral("docs/Alte Datei.txt"), "gone in version 2\n"},
    };
}

Files Scene::version2()
{
    return {
        {QStringLiteral("readme.txt"), "Corvane 2\n"},
        // Version 1's library with a few bytes changed, as a fix changes it.
        {QStringLiteral("lib/libcorvane.so"), TestFiles::noise(20000, 1).replace(9000, 8, "fixed!!!")},
        {QStringLiteral("data/same.dat"), "unchanged in every version\n"},
        {QStringLiteral("docs/Neue Datei, mit Komma.txt"), QByteArray("new in version 2\n").repeated(100)},
        {QStringLiteral("docs/Grüße an alle.txt"), "Willkommen\n"},
    };
}

Files Scene::bigVersion2()
{
    Files files = version2();
    files.insert(QStringLiteral("payload.bin"), TestFiles::noise(1 << 20, 3));
    files.insert(
        QStringLiteral("zz/huge.txt"), QByteArray("Corvane level data, line after line\n").repeated(1 << 20));
    return files;
}

QByteArray Scene::builtUpdater()
{
    static const QByteArray bytes = TestFiles::read(QStringLiteral(CORVANE_UPDATE_BINARY));
    return bytes;
}

QStringList Scene::differences(const Files& expected, const Files& actual)
{
    QStringList wrong;
    for (auto it = actual.cbegin(); it != actual.cend(); ++it) {
        if (expected.value(it.key()) != it.value())
            wrong.append(
                (expected.contains(it.key()) ? QStringLiteral("differs: ") : QStringLiteral("extra: "))
                + it.key());
    }
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!actual.contains(it.key()))
            wrong.append(QStringLiteral("missing: ") + it.key());
    }
    return wrong;
}

QString diagnostics(const Scene& scene, UpdaterRun& run)
{
    return QStringLiteral("updater:\n%1\nnginx:\n%2").arg(run.both(), scene.nginx.errorText());
}
