// Copies a downloaded file to its place in the client directory.
#include "filecopytaskspecification.h"

#include <cerrno>

#include <sys/stat.h>

#include <QFile>

#include "fileops/stagedfile.h"

FileCopyTaskSpecification::FileCopyTaskSpecification(RollbackDataList* list, const QString& source,
    const QString& destination, QObject* parent, double parentProgressRange)
    : SlowFileOpTaskSpecification(QStringLiteral("Could not copy '%1' to '%2'").arg(source, destination),
        list, source, destination, parent, parentProgressRange)
{
}

ASyncFunc* FileCopyTaskSpecification::createFunction()
{
    return new FileCopyFunc(source, destination, options);
}

FileCopyFunc::FileCopyFunc(const QString& source, const QString& destination, const InstallOptions& options)
    : SlowFileOpFunc(source, destination, options)
{
}

bool FileCopyFunc::run()
{
    if (!destinationIsFree())
        return false;
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return failed(input.errorString());

    // A file installed with bits of its own is written; one that takes the
    // download's bits may be the download itself under a second name.
    StagedFile output(destination, creationMode(), options.mode < 0 ? input.handle() : -1);
    if (!output.isOpen())
        return failed(errno);

    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        // Given up: the staged file goes, and the task waits for no more.
        if (abandoned())
            return false;
        const qint64 n = input.read(buffer.data(), buffer.size());
        if (n < 0)
            return failed(input.errorString());
        if (n == 0)
            break;
        if (!output.write(buffer.constData(), n))
            return failed(errno);
    }
    // Like a plain copy, the new file takes the source's permission bits
    // unless told otherwise.
    struct stat info;
    if (options.mode < 0
        && (::fstat(input.handle(), &info) != 0 || !output.setMode(int(info.st_mode & 0777))))
        return failed(errno);
    return installStaged(output);
}
