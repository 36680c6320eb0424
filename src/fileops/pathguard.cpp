// Keeps product-ini paths below their root directory.
#include "pathguard.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QStringList>

namespace PathGuard {

bool isPlainRelativePath(const QString& relative)
{
    if (relative.isEmpty() || relative.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = relative.split(QLatin1Char('/'));
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

namespace {

bool isInside(const QString& canonicalRoot, const QString& canonicalPath)
{
    return canonicalPath == canonicalRoot
        || canonicalPath.startsWith(
            canonicalRoot.endsWith(QLatin1Char('/')) ? canonicalRoot : canonicalRoot + QLatin1Char('/'));
}

} // namespace

QString pathInside(const QString& root, const QString& relative)
{
    if (!isPlainRelativePath(relative))
        return {};
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    if (canonicalRoot.isEmpty())
        return {};
    const QString full = root + QLatin1Char('/') + relative;

    // Walk up from the file's directory to the first one that exists; where
    // it really is decides. A dangling link on the way could be followed by a
    // later mkdir or create, so it counts as leading outside.
    QString dir = QFileInfo(full).path();
    while (true) {
        const QFileInfo info(dir);
        if (info.exists())
            return isInside(canonicalRoot, info.canonicalFilePath()) ? full : QString();
        if (info.isSymLink())
            return {};
        const QString parent = info.path();
        if (parent == dir)
            return {};
        dir = parent;
    }
}

} // namespace PathGuard
