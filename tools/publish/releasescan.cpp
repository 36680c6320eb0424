// Walks a release folder in a fixed order so that two runs over the same
// folder publish the same tree.
#include "releasescan.h"

#include "publishexit.h"
#include "release/releasenames.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

using ReleaseNames::Rules;

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
        const QString sectionProblem = ReleaseNames::sectionProblem(file.section, Rules::Publisher);
        if (!sectionProblem.isEmpty())
            throw ToolError(PublishContent,
                QStringLiteral("The folder %1 cannot be a mirror folder: %2")
                    .arg(file.section, sectionProblem));
        const QString pathProblem = ReleaseNames::fileNameProblem(file.path, Rules::Publisher);
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
