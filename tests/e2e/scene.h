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
    bool writeMirrorsIni(const QStringList& urls) const;
    // TMPDIR below the scene, no banner, the version server if one is set.
    QProcessEnvironment environment() const;

    // The client directory's files that came from a release, by content:
    // everything but the updater, its settings and the start script.
    Files releaseFilesInClient() const;
    // What the updater left in the system's temporary directory.
    QStringList tempLeftovers() const;
    int clientStarts() const;

    // The bytes of the updater as built.
    static QByteArray builtUpdater();
    // Arbitrary but repeatable bytes.
    static QByteArray noise(int size, quint32 seed);

    QTemporaryDir dir;
    NginxServer nginx;
    QString updateServer;
    // The key releases are signed with.
    QString signingKey;
};

// The updater's log and nginx's errors, for a failure message.
QString diagnostics(const Scene& scene, UpdaterRun& run);
