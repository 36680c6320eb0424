// Test releases: the files of one client version, the product ini that lists
// them signed with the build's development key, laid out as a mirror holds
// them and served by the loopback test server.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class TestHttpServer;

/*!
    Describes one release and publishes it.

    A mirror named M on a TestHttpServer is the URL path "/M"; the updater
    appends the version, so the release lies below "/M/<version>/": the
    product ini "<clientType>.ini" and its ".sig" (and ".sig256", when
    asked for), and every file at
    "<section>/<path>". writeMirrorsIni() lists such mirrors for the
    registry. Files are plain (installed as downloaded), packed (served
    gzip-packed, installed unpacked under another path) or generated (a large
    plain file whose bytes are TestHttpServer::generatedBytes(0, size), never
    held in memory). Broken product inis are made with addRawEntry().

    Without a development key (a build that embeds a publisher's key) the
    signature is empty; tests should QSKIP when hasSigningKey() is false.
*/
class TestRelease final {
public:
    struct Entry {
        QString section;
        QString path; // the key: path on the mirror and in the temporary directory
        QString value; // the product ini value
        QByteArray served; // what the mirror serves (unless generatedSize >= 0)
        qint64 generatedSize = -1;
        QString installedPath; // where the update puts it in the client directory
        QByteArray installed; // the bytes it puts there (unless generated)
    };

    explicit TestRelease(int version = 42, const QString& clientType = QStringLiteral("client_linux_amd64"));

    static bool hasSigningKey();

    void addFile(const QString& path, const QByteArray& content, const QString& section = defaultSection());
    void addPackedFile(const QString& path, const QString& unpackedPath, const QByteArray& content,
        const QString& section = defaultSection());
    void addGeneratedFile(const QString& path, qint64 size, const QString& section = defaultSection());
    // A key of the "delete" section.
    void addDelete(const QString& path);
    // A line exactly as given; served (at section/key) only when not null.
    void addRawEntry(
        const QString& section, const QString& key, const QString& value, const QByteArray& served = {});
    // The binary patch patch of the file added at path, from base, what
    // version from installed: listed in the patch index and served at
    // patchPath(from, path). The release then has a signed patch index.
    void addPatch(int from, const QString& path, const QByteArray& base, const QByteArray& patch);

    QByteArray productIni() const;
    // The development key's signature of productIni(); empty without that key.
    QByteArray signature() const;
    // The same over SHA-256, served and written as ".sig256" only once
    // setSha256Signature(true), as a publisher of today does.
    QByteArray signature256() const;
    void setSha256Signature(bool withIt) { withSha256 = withIt; }
    QString productIniName() const { return clientType + QStringLiteral(".ini"); }
    // The patch index and its signature; empty without patches.
    QByteArray patchIndex() const;
    QByteArray patchIndexSignature() const;
    QString patchIndexName() const { return clientType + QStringLiteral(".patches.ini"); }
    // Where the patch of the file at path (a key) from version from lies
    // below the version's folder.
    QString patchPath(int from, const QString& path) const;
    // The server path of path (a key) on mirror, e.g. "/A/42/files/lib/a.so".
    QString serverPath(const QString& mirror, const QString& path) const;
    QString productIniServerPath(const QString& mirror) const;

    // Answers every file, the product ini and its signature on mirror.
    void serve(TestHttpServer& server, const QString& mirror) const;
    // Writes the same tree below dir (dir/<version>/...); false on failure.
    bool writeMirror(const QString& dir) const;
    // Puts every file where a finished update leaves it, as if installed.
    bool install(const QString& clientDir) const;
    // Writes a mirrors.ini naming each mirror with url server base + "/" + name.
    static bool writeMirrorsIni(
        const QString& path, const TestHttpServer& server, const QStringList& mirrors);

    const QList<Entry>& entries() const { return fileEntries; }
    int version() const { return releaseVersion; }
    static QString defaultSection() { return QStringLiteral("files"); }

private:
    void addEntry(const Entry& entry);

    int releaseVersion;
    QString clientType;
    QList<Entry> fileEntries;
    QList<Entry> rawEntries;
    QList<QString> deletions;
    struct Patch {
        int from;
        QString line; // "installed path=value"
        QString path; // below the version folder
        QByteArray bytes;
    };
    QList<Patch> patches;
    bool withSha256 = false;
};
