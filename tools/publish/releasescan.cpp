// Walks a release folder in a fixed order so that two runs over the same
// folder publish the same tree.
#include "releasescan.h"

#include "publishexit.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace {

// A line break in a name would forge lines of the updater's log; the updater
// refuses a product ini with such names.
bool hasControlCharacter(const QString& name)
{
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

} // namespace

QString relativePathProblem(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("an empty path");
    if (path.startsWith(QLatin1Char('/')))
        return QStringLiteral("an absolute path");
    // The settings reader turns a backslash in a key into a folder separator.
    if (path.contains(QLatin1Char('\\')))
        return QStringLiteral("a backslash in the name");
    if (hasControlCharacter(path))
        return QStringLiteral("a control character in the name");
    for (const QString& part : path.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return QStringLiteral("an empty, \".\" or \"..\" path component");
        // The updater keeps replaced files under "_old_", writes new ones
        // under "_new_" before they take their names, and deletes such names
        // as its own leftovers.
        for (const QLatin1String prefix : {QLatin1String("_old_"), QLatin1String("_new_")}) {
            if (part.startsWith(prefix))
                return QStringLiteral("a name starting with \"%1\", which the updater reserves").arg(prefix);
        }
    }
    return {};
}

QString sectionNameProblem(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("an empty name");
    if (name == QLatin1String("delete"))
        return QStringLiteral("the name of the deletion list");
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return QStringLiteral("a folder separator in the name");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("not a folder name");
    if (hasControlCharacter(name))
        return QStringLiteral("a control character in the name");
    return {};
}

QList<ReleaseFile> scanRelease(const QString& root, const QString& defaultSection, bool folderSections)
{
    const QFileInfo rootInfo(root);
    if (!rootInfo.exists())
        throw ToolError(PublishInput, QStringLiteral("Release folder not found: %1").arg(root));
    if (!rootInfo.isDir())
        throw ToolError(PublishInput,
            QStringLiteral("%1 is not a folder; give the folder that holds the release").arg(root));
    const QDir base(rootInfo.absoluteFilePath());

    QList<ReleaseFile> files;
    QDirIterator it(base.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = base.relativeFilePath(source);
        if (info.isSymLink())
            throw ToolError(PublishContent,
                QStringLiteral("%1 is a symbolic link; publish the file itself").arg(relative));
        if (info.isDir())
            continue;
        if (!info.isFile())
            throw ToolError(PublishContent, QStringLiteral("%1 is not a regular file").arg(relative));
        // A name that is not valid UTF-8 does not survive the trip through
        // text and cannot be opened again under the decoded name.
        if (!QFileInfo::exists(source))
            throw ToolError(
                PublishContent, QStringLiteral("The name of %1 is not valid UTF-8").arg(relative));

        ReleaseFile file;
        file.source = source;
        file.size = quint64(info.size());
        const int slash = relative.indexOf(QLatin1Char('/'));
        if (folderSections && slash > 0) {
            file.section = relative.left(slash);
            file.path = relative.mid(slash + 1);
        } else {
            file.section = defaultSection;
            file.path = relative;
        }
        const QString sectionProblem = sectionNameProblem(file.section);
        if (!sectionProblem.isEmpty())
            throw ToolError(PublishContent,
                QStringLiteral("The folder %1 cannot be a mirror folder: %2")
                    .arg(file.section, sectionProblem));
        const QString pathProblem = relativePathProblem(file.path);
        if (!pathProblem.isEmpty())
            throw ToolError(
                PublishContent, QStringLiteral("%1 cannot be published: %2").arg(relative, pathProblem));
        files.append(file);
    }
    std::sort(files.begin(), files.end(), [](const ReleaseFile& a, const ReleaseFile& b) {
        return a.section != b.section ? a.section < b.section : a.path < b.path;
    });
    return files;
}
