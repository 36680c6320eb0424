// Where the client directory is.
#include "approotpath.h"

#include <QCoreApplication>
#include <QString>

namespace {

QString& overridePath()
{
    static QString path;
    return path;
}

} // namespace

namespace AppRootPath {

QString get()
{
    const QString& path = overridePath();
    return path.isEmpty() ? QCoreApplication::applicationDirPath() : path;
}

void setOverride(const QString& path)
{
    overridePath() = path;
}

} // namespace AppRootPath
