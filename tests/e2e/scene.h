// One scene of an end-to-end test: a client directory with the real updater
// copied into it, releases published into a mirror tree, nginx serving that
// tree, and the updater's own temporary directory, all in one QTemporaryDir.
#pragma once

#include <QMap>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include "nginxserver.h"

class UpdaterRun;

using Files = QMap<QString, QByteArray>;

// The client type every scene installs, and the bound on one run of the updater.
inline const QString clientType = QStringLiteral("client_linux_amd64");
constexpr int runTimeoutMs = 90000;

class Scene final {
public:
    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    QString client() const { return path(QStringLiteral("client")); }
    QString mirror() const { return path(QStringLiteral("mirror")); }
    QString startedLog() const { return path(QStringLiteral("client-started.log")); }

    // Writes files, the start script and the updater (the built binary, or
    // updaterBytes when given) into the client directory.
    bool installClient(const Files& files, const QByteArray& updaterBytes = {}) const;
    // Publishes files as version into the mirror tree, deleting what the
    // previous release had and this one has not; extra goes to corvane-publish.
    bool publish(int version, const Files& files, const Files& previous, QStringList extra = {}) const;
    // Serves the mirror tree from one nginx site and points the client at it.
    bool serveMirror();
    // Serves the mirror tree from two sites, the first trickling at 64 KiB/s
    // and the second at full speed, and points the client at the first when
    // trickled, at the second otherwise.
    bool serveMirrorTwice(bool trickled);
    // Serves the mirror tree from one site (0) and a forward proxy from
    // another (1), and points the client at the mirror through the proxy
    // (update.ini's proxy).
    bool serveMirrorThroughProxy();
    bool writeMirrorsIni(const QStringList& urls) const;
    // TMPDIR below the scene, no banner, the version server if one is set.
    QProcessEnvironment environment() const;

    // The client directory's files that came from a release, by content:
    // everything but the updater, its settings and the start script.
    Files releaseFilesInClient() const;
    // What the updater left in the system's temporary directory.
    QStringList tempLeftovers() const;
    int clientStarts() const;
    // True once bytes of the file called name have come into the updater's
    // temporary directory.
    bool downloadArrived(const QString& name) const;
    // True once the installation has changed the client directory: a new
    // file written beside its target, an old one set aside, or the big file
    // of bigVersion2() in place.
    bool installationUnderWay() const;
    // Waits for installationUnderWay(), polling tightly: the phase is short.
    bool waitForInstallation(int timeoutMs) const;

    // The releases the scenes update between: a text and a library that
    // change, a file that stays, one that goes and two new ones whose names
    // hold a comma, a blank and letters beyond ASCII.
    static Files version1();
    static Files version2();
    // Version 2 with a payload that a trickling site needs seconds for, and
    // a big file whose unpacking the installation needs a moment for.
    static Files bigVersion2();

    // The bytes of the updater as built, without its debug sections.
    static QByteArray builtUpdater();
    // What keeps actual from being expected: one "differs: ", "extra: " or
    // "missing: " and the path for each file that is not as it should be.
    static QStringList differences(const Files& expected, const Files& actual);

    QTemporaryDir dir;
    NginxServer nginx;
    QString updateServer;
    // The key releases are signed with.
    QString signingKey;
};

// The updater's log and nginx's errors, for a failure message.
QString diagnostics(const Scene& scene, UpdaterRun& run);
