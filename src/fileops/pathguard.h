// Keeps the paths named by the product ini below the directory they belong
// to: nothing the updater writes, renames or deletes may lie outside the
// client directory or the temporary directory.
#pragma once

#include <QHash>
#include <QString>

namespace PathGuard {

/// root + "/" + relative when relative is a plain relative path
/// (ReleaseNames::isPlainRelativePath) and no
/// existing directory on the way (a symbolic link, say) leads outside root;
/// otherwise an empty string. Only the directories are looked at: a file at
/// the end that is itself a link is renamed or removed as the link it is.
QString pathInside(const QString& root, const QString& relative);

/// A root directory for judging many paths, as pathInside() does: where the
/// root really is, and the verdict on each directory on the way, are looked
/// up once instead of once per file (many system calls each, for a release
/// of many files in a few directories). For one stage's paths at a time:
/// the updater itself only ever adds plain directories below its roots. One
/// thread only.
class Root final {
public:
    explicit Root(const QString& root);
    QString pathInside(const QString& relative) const;

private:
    bool directoryInside(const QString& dir) const;

    QString root;
    QString canonicalRoot;
    mutable QHash<QString, bool> insideByDirectory;
};

} // namespace PathGuard
