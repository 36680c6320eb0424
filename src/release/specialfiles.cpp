// The updater's own files.
#include "specialfiles.h"

#include <QString>
#include <QStringList>

namespace SpecialFiles {

const QStringList& names()
{
    static const QStringList list {
        QStringLiteral("update"),
        QStringLiteral("libQtCore.so.4"),
        QStringLiteral("libQtGui.so.4"),
        QStringLiteral("libQtNetwork.so.4"),
        QStringLiteral("libqgif.so"),
        QStringLiteral("libqjpeg.so"),
        QStringLiteral("libqtaccessiblewidgets.so"),
    };
    return list;
}

bool isSpecialFileName(const QString& name)
{
    return names().contains(name, Qt::CaseSensitive);
}

const QString& updateIni()
{
    static const QString name = QStringLiteral("update.ini");
    return name;
}

const QString& mirrorsIni()
{
    static const QString name = QStringLiteral("mirrors.ini");
    return name;
}

const QString& lockFile()
{
    static const QString name = QStringLiteral("update.lock");
    return name;
}

bool isOwnFile(const QString& path)
{
    // Without its program, its mirrors or its settings the next start
    // fails, and a lock file taken away lets a second updater lock another
    // one beside a running first.
    return isSpecialFileName(path) || path == updateIni() || path == mirrorsIni() || path == lockFile();
}

} // namespace SpecialFiles
