// Deletes one file.
#include "filedeletetaskspecification.h"

#include <QFile>

FileDeleteTaskSpecification::FileDeleteTaskSpecification(
    bool mustSucceed, const QString& filePath, QObject* parent, double parentProgressRange)
    : FastFileOpTaskSpecification(filePath, nullptr, parent, parentProgressRange)
    , mustSucceed(mustSucceed)
{
}

bool FileDeleteTaskSpecification::doOp()
{
    const bool removed = QFile::remove(path);
    if (!mustSucceed)
        return true;
    if (!removed)
        emit message(QStringLiteral("Could not delete '%1'").arg(path));
    return removed;
}
