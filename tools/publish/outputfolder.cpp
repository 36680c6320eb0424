// The existence check at the start of a run only saves the publisher a long
// wait; the rename at the end is what keeps two runs from both claiming one
// version.
#include "outputfolder.h"

#include "common/toolmain.h"
#include "posixfile.h"
#include "publishexit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>

namespace {

// The path with every existing part resolved: the canonical path of the
// deepest folder that exists, followed by the parts that do not exist yet.
QString resolvedPath(const QString& path)
{
    QString existing = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    QString missing;
    while (!QFileInfo::exists(existing) && existing != QLatin1String("/")) {
        const QFileInfo info(existing);
        missing = missing.isEmpty() ? info.fileName() : info.fileName() + QLatin1Char('/') + missing;
        existing = info.path();
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    return missing.isEmpty() ? canonical : QDir(canonical).filePath(missing);
}

// The file system cannot rename this way, as opposed to refusing the names.
bool unsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

[[noreturn]] void failToMove(const QString& versionDir)
{
    throw ToolError(
        PublishOutput, QStringLiteral("Cannot move the new tree to %1: %2").arg(versionDir, systemReason()));
}

} // namespace

void refuseOutputInsideRelease(const QString& outDir, const QString& releaseDir)
{
    if (!QFileInfo(releaseDir).isDir())
        return; // the release scan says what is wrong with it
    const QString release = resolvedPath(releaseDir);
    const QString out = resolvedPath(outDir);
    if (out == release
        || out.startsWith(release.endsWith(QLatin1Char('/')) ? release : release + QLatin1Char('/')))
        throw ToolError(PublishUsage,
            QStringLiteral("The output folder %1 lies inside the release folder %2; the next version would "
                           "publish it as client files. Choose an output folder outside the release.")
                .arg(outDir, releaseDir));
}

QString versionExistsText(const QString& versionDir)
{
    return QStringLiteral("%1 exists; use --force to replace the published version").arg(versionDir);
}

void moveIntoPlace(const QString& staging, const QString& versionDir, bool force)
{
    const QByteArray from = QFile::encodeName(staging);
    const QByteArray to = QFile::encodeName(versionDir);
    int rc = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    // Without the flag a plain rename still refuses a folder that holds
    // anything, and a published version always does.
    if (rc != 0 && unsupported(errno))
        rc = ::rename(from.constData(), to.constData());
    if (rc == 0)
        return;
    if (errno != EEXIST && errno != ENOTEMPTY)
        failToMove(versionDir);
    if (!force)
        throw ToolError(PublishOutput, versionExistsText(versionDir));

    // Swapping the two trees leaves no moment without a published version;
    // the old one ends up under the staging name.
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) != 0) {
        if (!unsupported(errno))
            failToMove(versionDir);
        const QByteArray aside = from + "-replaced";
        if (::rename(to.constData(), aside.constData()) != 0)
            failToMove(versionDir);
        if (::rename(from.constData(), to.constData()) != 0) {
            const int moveErrno = errno;
            ::rename(aside.constData(), to.constData());
            errno = moveErrno;
            failToMove(versionDir);
        }
        ::rename(aside.constData(), from.constData());
    }
    if (!QDir(staging).removeRecursively())
        toolWarning(QStringLiteral("cannot remove the replaced version, left at %1").arg(staging));
}
