// The update engine.
#include "updateengine.h"

#include "configuration.h"

#include <QFile>
#include <QString>

void UpdateEngine::removeOldFiles(const QString& dir)
{
    const QString& prefix = Configuration::getSpecialFileRenamePrefix();
    for (const QString& name : Configuration::getSpecialFileNames())
        QFile::remove(dir + QLatin1Char('/') + prefix + name);
}
