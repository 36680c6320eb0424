// The new content of one installed file, staged beside its destination.
#include "stagedfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "fileops/atomicreplace.h"

namespace {

// A staging file is only ever ours: one of the same name is the remains of a
// run that was cut off while writing it.
QString clearedStagingPath(const QString& destination)
{
    AtomicReplace::discardStaged(destination);
    return AtomicReplace::stagingPath(destination);
}

} // namespace

StagedFile::StagedFile(const QString& destination, int mode, int sameContent)
    : destination(destination)
    , staging(clearedStagingPath(destination))
    , file(staging, mode, sameContent)
    , hash(QCryptographicHash::Md5)
{
}

StagedFile::~StagedFile()
{
    // An uncommitted file is removed by NewFile itself.
    if (committed && !installed)
        QFile::remove(staging);
}

bool StagedFile::write(const char* data, qint64 size)
{
    hash.addData(QByteArrayView(data, size));
    return file.sharesContent() || file.write(data, size);
}

QByteArray StagedFile::md5Hex() const
{
    return hash.result().toHex();
}

bool StagedFile::setMode(int mode)
{
    return file.setMode(mode);
}

bool StagedFile::takeModeOf(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return true;
    // Permission bits only: set-user-ID and the like are never handed on.
    return file.setMode(int(info.st_mode & 0777));
}

bool StagedFile::install(const QString& oldPath)
{
    if (!file.commit())
        return false;
    committed = true;
    installed = AtomicReplace::place(staging, destination, oldPath);
    return installed;
}

bool StagedFile::keepStaged()
{
    return file.keepUnflushed();
}
