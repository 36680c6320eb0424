// Keeps product-ini paths below their root directory.
#include "pathguard.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include "release/releasenames.h"

namespace PathGuard {

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
    return Root(root).pathInside(relative);
}

Root::Root(const QString& root)
    : root(root)
    , canonicalRoot(QFileInfo(root).canonicalFilePath())
{
}

QString Root::pathInside(const QString& relative) const
{
    if (canonicalRoot.isEmpty() || !ReleaseNames::isPlainRelativePath(relative))
        return {};
    const QString full = root + QLatin1Char('/') + relative;
    return directoryInside(QFileInfo(full).path()) ? full : QString();
}

bool Root::directoryInside(const QString& dir) const
{
    const auto known = insideByDirectory.constFind(dir);
    if (known != insideByDirectory.cend())
        return *known;
    // Walk up from the file's directory to the first one that exists; where
    // it really is decides. A dangling link on the way could be followed by a
    // later mkdir or create, so it counts as leading outside.
    bool inside = false;
    for (QString step = dir;;) {
        const QFileInfo info(step);
        if (info.exists()) {
            inside = isInside(canonicalRoot, info.canonicalFilePath());
            break;
        }
        const QString parent = info.path();
        if (info.isSymLink() || parent == step)
            break;
        step = parent;
    }
    insideByDirectory.insert(dir, inside);
    return inside;
}

} // namespace PathGuard
