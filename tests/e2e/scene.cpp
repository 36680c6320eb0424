// One scene of an end-to-end test.
#include "scene.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include "mirrorsfixture.h"
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

QByteArray Scene::builtUpdater()
{
    static const QByteArray bytes = TestFiles::read(QStringLiteral(CORVANE_UPDATE_BINARY));
    return bytes;
}

QByteArray Scene::noise(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 24);
    }
    return data;
}

QString diagnostics(const Scene& scene, UpdaterRun& run)
{
    return QStringLiteral("updater log:\n%1\nnginx:\n%2").arg(run.log(), scene.nginx.errorText());
}
