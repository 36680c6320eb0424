// Deletes one file.
#include "filedeletetaskspecification.h"

#include <cerrno>

#include <unistd.h>

#include <QFile>

FileDeleteTaskSpecification::FileDeleteTaskSpecification(
    bool mustSucceed, const QString& filePath, QObject* parent, double parentProgressRange)
    : FastFileOpTaskSpecification(filePath, nullptr, parent, parentProgressRange)
    , mustSucceed(mustSucceed)
{
}

bool FileDeleteTaskSpecification::doOp()
{
    if (::unlink(QFile::encodeName(path).constData()) == 0)
        return true;
    const int error = errno;
    if (mustSucceed) {
        emit message(QStringLiteral("Could not delete '%1'").arg(path));
        return false;
    }
    // The deletion stays best effort, but a file left behind (an obsolete
    // program, a copy set aside) is worth a line in the details; one that is
    // gone already is not.
    if (error != ENOENT)
        emit message(QStringLiteral("Could not delete %1: %2").arg(path, qt_error_string(error)));
    return true;
}
