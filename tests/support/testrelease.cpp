// Test releases served from loopback.
#include "testrelease.h"

#include <algorithm>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStringList>

#include "mirrorsini.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testsigning.h"

namespace {

// Generated bodies are hashed and written a piece of this size at a time.
constexpr qint64 chunkSize = 1 << 20;

QString md5OfGenerated(qint64 size)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (qint64 offset = 0; offset < size; offset += chunkSize)
        hash.addData(TestHttpServer::generatedBytes(offset, std::min(chunkSize, size - offset)));
    return QString::fromLatin1(hash.result().toHex());
}

bool writeGenerated(const QString& path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (qint64 offset = 0; offset < size; offset += chunkSize) {
        const QByteArray bytes = TestHttpServer::generatedBytes(offset, std::min(chunkSize, size - offset));
        if (file.write(bytes) != bytes.size())
            return false;
    }
    return true;
}

} // namespace

TestRelease::TestRelease(int version, const QString& clientType)
    : releaseVersion(version)
    , clientType(clientType)
{
}

bool TestRelease::hasSigningKey()
{
    return !TestSigning::devPrivateKeyPath().isEmpty();
}

void TestRelease::addEntry(const Entry& entry)
{
    fileEntries.append(entry);
}

void TestRelease::addFile(const QString& path, const QByteArray& content, const QString& section)
{
    Entry entry;
    entry.section = section;
    entry.path = path;
    entry.value =
        QStringLiteral("%1::%2").arg(QString::fromLatin1(TestFiles::md5Hex(content))).arg(content.size());
    entry.served = content;
    entry.installedPath = path;
    entry.installed = content;
    addEntry(entry);
}

void TestRelease::addPackedFile(
    const QString& path, const QString& unpackedPath, const QByteArray& content, const QString& section)
{
    Entry entry;
    entry.section = section;
    entry.path = path;
    entry.served = TestFiles::gzip(content);
    entry.value = QStringLiteral("%1::%2::%3::%4::%5")
                      .arg(QString::fromLatin1(TestFiles::md5Hex(entry.served)))
                      .arg(entry.served.size())
                      .arg(QString::fromLatin1(TestFiles::md5Hex(content)))
                      .arg(content.size())
                      .arg(unpackedPath);
    entry.installedPath = unpackedPath;
    entry.installed = content;
    addEntry(entry);
}

void TestRelease::addGeneratedFile(const QString& path, qint64 size, const QString& section)
{
    Entry entry;
    entry.section = section;
    entry.path = path;
    entry.generatedSize = size;
    entry.value = QStringLiteral("%1::%2").arg(md5OfGenerated(size)).arg(size);
    entry.installedPath = path;
    addEntry(entry);
}

void TestRelease::addDelete(const QString& path)
{
    deletions.append(path);
}

void TestRelease::addRawEntry(
    const QString& section, const QString& key, const QString& value, const QByteArray& served)
{
    Entry entry;
    entry.section = section;
    entry.path = key;
    entry.value = value;
    entry.served = served;
    rawEntries.append(entry);
}

void TestRelease::addPatch(int from, const QString& path, const QByteArray& base, const QByteArray& patch)
{
    const auto entry = std::find_if(
        fileEntries.cbegin(), fileEntries.cend(), [&path](const Entry& e) { return e.path == path; });
    Q_ASSERT(entry != fileEntries.cend());
    const QString value = QStringList {QString::fromLatin1(TestFiles::md5Hex(base)),
        QString::number(base.size()), QString::fromLatin1(TestFiles::md5Hex(entry->installed)),
        QString::fromLatin1(TestFiles::md5Hex(patch)), QString::number(patch.size()), patchPath(from, path)}
                              .join(QStringLiteral("::"));
    patches.append({from, entry->installedPath + QLatin1Char('=') + value, patchPath(from, path), patch});
}

QString TestRelease::patchPath(int from, const QString& path) const
{
    const auto entry = std::find_if(
        fileEntries.cbegin(), fileEntries.cend(), [&path](const Entry& e) { return e.path == path; });
    return QStringLiteral("patches/%1/%2")
        .arg(from)
        .arg(entry == fileEntries.cend() ? path : entry->installedPath);
}

QByteArray TestRelease::patchIndex() const
{
    QMap<int, QStringList> sections;
    for (const Patch& patch : patches)
        sections[patch.from].append(patch.line);
    QByteArray text;
    for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
        text += '[' + QByteArray::number(section.key()) + "]\n";
        for (const QString& line : section.value())
            text += line.toUtf8() + '\n';
    }
    return text;
}

QByteArray TestRelease::patchIndexSignature() const
{
    if (!hasSigningKey() || patches.isEmpty())
        return {};
    return TestSigning::sign(patchIndex(), TestSigning::devPrivateKeyPath());
}

QByteArray TestRelease::productIni() const
{
    // Sections in first-use order; the reader sorts them anyway.
    QMap<QString, QStringList> lines;
    QStringList order;
    auto add = [&](const QString& section, const QString& line) {
        if (!lines.contains(section))
            order.append(section);
        lines[section].append(line);
    };
    for (const Entry& entry : fileEntries)
        add(entry.section, entry.path + QLatin1Char('=') + entry.value);
    for (const Entry& entry : rawEntries)
        add(entry.section, entry.path + QLatin1Char('=') + entry.value);
    for (const QString& path : deletions)
        add(QStringLiteral("delete"), path + QStringLiteral("=1"));

    QByteArray text;
    for (const QString& section : std::as_const(order)) {
        text += '[' + section.toUtf8() + "]\n";
        for (const QString& line : lines.value(section))
            text += line.toUtf8() + '\n';
        text += '\n';
    }
    return text;
}

QByteArray TestRelease::signature() const
{
    if (!hasSigningKey())
        return {};
    return TestSigning::sign(productIni(), TestSigning::devPrivateKeyPath());
}

QByteArray TestRelease::signature256() const
{
    if (!hasSigningKey())
        return {};
    return TestSigning::sign(productIni(), TestSigning::devPrivateKeyPath(), SignatureHash::Sha256);
}

QString TestRelease::serverPath(const QString& mirror, const QString& path) const
{
    for (const Entry& entry : fileEntries + rawEntries) {
        if (entry.path == path)
            return QStringLiteral("/%1/%2/%3/%4").arg(mirror).arg(releaseVersion).arg(entry.section, path);
    }
    return {};
}

QString TestRelease::productIniServerPath(const QString& mirror) const
{
    return QStringLiteral("/%1/%2/%3").arg(mirror).arg(releaseVersion).arg(productIniName());
}

void TestRelease::serve(TestHttpServer& server, const QString& mirror) const
{
    const QString iniPath = productIniServerPath(mirror);
    server.setAnswer(iniPath, TestHttpServer::Answer::ok(productIni()));
    server.setAnswer(iniPath + QStringLiteral(".sig"), TestHttpServer::Answer::ok(signature()));
    if (withSha256)
        server.setAnswer(iniPath + QStringLiteral(".sig256"), TestHttpServer::Answer::ok(signature256()));
    for (const Entry& entry : fileEntries) {
        server.setAnswer(serverPath(mirror, entry.path),
            entry.generatedSize >= 0 ? TestHttpServer::Answer::generated(entry.generatedSize)
                                     : TestHttpServer::Answer::ok(entry.served));
    }
    for (const Entry& entry : rawEntries) {
        if (!entry.served.isNull())
            server.setAnswer(serverPath(mirror, entry.path), TestHttpServer::Answer::ok(entry.served));
    }
    if (patches.isEmpty())
        return;
    const QString root = QStringLiteral("/%1/%2/").arg(mirror).arg(releaseVersion);
    server.setAnswer(root + patchIndexName(), TestHttpServer::Answer::ok(patchIndex()));
    server.setAnswer(
        root + patchIndexName() + QStringLiteral(".sig"), TestHttpServer::Answer::ok(patchIndexSignature()));
    for (const Patch& patch : patches)
        server.setAnswer(root + patch.path, TestHttpServer::Answer::ok(patch.bytes));
}

bool TestRelease::writeMirror(const QString& dir) const
{
    const QString root = QStringLiteral("%1/%2/").arg(dir).arg(releaseVersion);
    bool ok = TestFiles::write(root + productIniName(), productIni())
        && TestFiles::write(root + productIniName() + QStringLiteral(".sig"), signature())
        && (!withSha256
            || TestFiles::write(root + productIniName() + QStringLiteral(".sig256"), signature256()));
    for (const Entry& entry : fileEntries) {
        const QString path = root + entry.section + QLatin1Char('/') + entry.path;
        ok = ok
            && (entry.generatedSize >= 0 ? writeGenerated(path, entry.generatedSize)
                                         : TestFiles::write(path, entry.served));
    }
    if (!patches.isEmpty()) {
        ok = ok && TestFiles::write(root + patchIndexName(), patchIndex())
            && TestFiles::write(root + patchIndexName() + QStringLiteral(".sig"), patchIndexSignature());
    }
    for (const Patch& patch : patches)
        ok = ok && TestFiles::write(root + patch.path, patch.bytes);
    return ok;
}

bool TestRelease::install(const QString& clientDir) const
{
    bool ok = true;
    for (const Entry& entry : fileEntries) {
        const QString path = clientDir + QLatin1Char('/') + entry.installedPath;
        ok = ok
            && (entry.generatedSize >= 0 ? writeGenerated(path, entry.generatedSize)
                                         : TestFiles::write(path, entry.installed));
    }
    return ok;
}

bool TestRelease::writeMirrorsIni(
    const QString& path, const TestHttpServer& server, const QStringList& mirrors)
{
    QList<MirrorsFixture::Entry> entries;
    for (const QString& name : mirrors)
        entries.append({name, server.baseUrl() + QLatin1Char('/') + name});
    return TestFiles::write(path, MirrorsFixture::ini(entries));
}
