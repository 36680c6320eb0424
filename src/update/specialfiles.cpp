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

} // namespace SpecialFiles
