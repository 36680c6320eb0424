// Starting other programs from the updater.
#include "processtools.h"

#include "configuration.h"

#include <QProcess>

void ProcessTools::startDavUzodur()
{
    // The whole path is the program, blanks included; the script inherits our
    // environment and working directory and outlives us.
    QProcess::startDetached(
        Configuration::getAppRootPath() + QLatin1Char('/') + Configuration::getClientBinaryName(),
        QStringList());
}
