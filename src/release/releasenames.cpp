// Name rules shared by the updater and the publisher.
#include "releasenames.h"

#include <QString>
#include <QStringList>

#include <algorithm>

#include "specialfiles.h"

namespace ReleaseNames {

namespace {

// A line break or another control character in a name would forge lines in
// the log and the details window (which also breaks lines at the Unicode
// separators), and no release has a reason to use one.
bool isControl(QChar c)
{
    const QChar::Category category = c.category();
    return category == QChar::Other_Control || category == QChar::Separator_Line
        || category == QChar::Separator_Paragraph;
}

QString controlCharacterProblem()
{
    return QStringLiteral("a control character in the name");
}

QString plainPathProblem(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("an empty path");
    if (path.startsWith(QLatin1Char('/')))
        return QStringLiteral("an absolute path");
    for (const QString& part : path.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return QStringLiteral("an empty, \".\" or \"..\" path component");
    }
    return {};
}

// The updater keeps replaced files under "_old_", writes new ones under
// "_new_" before they take their names, and deletes such names as its own
// leftovers: a release file of such a name would be taken for one and
// deleted, and a listed "_old_" copy would be deleted before the file it
// belongs to is replaced.
QString reservedNameProblem(const QString& path)
{
    for (const QString& part : path.split(QLatin1Char('/'))) {
        for (const QString& prefix : {oldPrefix(), stagingPrefix()}) {
            if (part.startsWith(prefix))
                return QStringLiteral("a name starting with \"%1\", which the updater reserves").arg(prefix);
        }
    }
    return {};
}

// With a working prefix before it, a longer name would not fit the file
// system, and the file could never be installed. Folders count too: a
// folder that becomes a file is kept under its "_old_" name.
QString lengthProblem(const QString& path)
{
    for (const QString& part : path.split(QLatin1Char('/'))) {
        if (part.toUtf8().size() > maxNameBytes)
            return QStringLiteral("a name longer than %1 bytes").arg(maxNameBytes);
    }
    return {};
}

QString pathProblem(const QString& path, Rules rules)
{
    if (hasControlCharacter(path))
        return controlCharacterProblem();
    QString problem = plainPathProblem(path);
    // The settings reader turns a backslash in a key into a folder
    // separator; the updater reads what it gives, a publisher avoids it.
    if (problem.isEmpty() && rules == Rules::Publisher && path.contains(QLatin1Char('\\')))
        problem = QStringLiteral("a backslash in the name");
    if (problem.isEmpty())
        problem = reservedNameProblem(path);
    return problem;
}

} // namespace

const QString& deleteSection()
{
    static const QString name = QStringLiteral("delete");
    return name;
}

QString productIniName(const QString& clientType)
{
    return clientType + QStringLiteral(".ini");
}

QString patchIndexName(const QString& clientType)
{
    return clientType + QStringLiteral(".patches.ini");
}

const QString& patchFolder()
{
    static const QString name = QStringLiteral("patches");
    return name;
}

const QString& changeLogName()
{
    static const QString name = QStringLiteral("changelog_client.txt");
    return name;
}

const QString& oldPrefix()
{
    static const QString prefix = QStringLiteral("_old_");
    return prefix;
}

const QString& stagingPrefix()
{
    static const QString prefix = QStringLiteral("_new_");
    return prefix;
}

QString withPrefix(const QString& path, const QString& prefix)
{
    const qsizetype nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    return QString(path).insert(nameStart, prefix);
}

bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), isControl);
}

QString printable(QString text)
{
    std::replace_if(text.begin(), text.end(), isControl, QChar(QChar::ReplacementCharacter));
    return text;
}

bool isPlainRelativePath(const QString& path)
{
    return plainPathProblem(path).isEmpty();
}

QString fileNameProblem(const QString& path, Rules rules)
{
    QString problem = pathProblem(path, rules);
    if (problem.isEmpty())
        problem = lengthProblem(path);
    return problem;
}

QString deletionProblem(const QString& path, Rules rules)
{
    QString problem = pathProblem(path, rules);
    if (problem.isEmpty() && rules == Rules::Publisher)
        problem = ownFileProblem(path);
    return problem;
}

QString ownFileProblem(const QString& path)
{
    return SpecialFiles::isOwnFile(path) ? QStringLiteral("one of the updater's own files") : QString();
}

QString sectionProblem(const QString& name, Rules rules)
{
    if (hasControlCharacter(name))
        return controlCharacterProblem();
    // The updater only puts the name into the mirror's URL.
    if (rules == Rules::Updater)
        return {};
    if (name.isEmpty())
        return QStringLiteral("an empty name");
    if (name == deleteSection())
        return QStringLiteral("the name of the deletion list");
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return QStringLiteral("a folder separator in the name");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("not a folder name");
    return {};
}

} // namespace ReleaseNames
