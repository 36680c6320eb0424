// Deletes one file.
#include "filedeletetaskspecification.h"

#include <cerrno>

#include <ftw.h>
#include <unistd.h>

#include <QFile>

namespace {

// Descriptors nftw may hold open at once, one per level it descends.
constexpr int openLevels = 16;

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path) == 0 ? 0 : errno;
}

// Children before their directory; a link is an entry of its own, and
// whatever is mounted below stays, so its directory cannot go either.
bool removeTree(const QByteArray& path)
{
    const int result = ::nftw(path.constData(), removeEntry, openLevels, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    if (result > 0)
        errno = result;
    return result == 0;
}

} // namespace

FileDeleteTaskSpecification::FileDeleteTaskSpecification(
    bool mustSucceed, const QString& filePath, QObject* parent, double parentProgressRange)
    : FastFileOpTaskSpecification(filePath, nullptr, parent, parentProgressRange)
    , mustSucceed(mustSucceed)
{
}

bool FileDeleteTaskSpecification::doOp()
{
    const QByteArray nativePath = QFile::encodeName(path);
    if (::unlink(nativePath.constData()) == 0)
        return true;
    int error = errno;
    if (error == EISDIR && removesDirectory) {
        if (removeTree(nativePath))
            return true;
        error = errno;
    }
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
