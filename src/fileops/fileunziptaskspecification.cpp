// Unpacks a gzip-compressed download to its place in the client directory.
#include "fileunziptaskspecification.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include <QFile>

#include <zlib.h>

#include "base/filedescriptor.h"
#include "fileops/stagedfile.h"

namespace {

constexpr unsigned bufferSize = 0x4000;

} // namespace

FileUnzipTaskSpecification::FileUnzipTaskSpecification(RollbackDataList* list, const QString& source,
    const QString& destination, QObject* parent, double parentProgressRange)
    : SlowFileOpTaskSpecification(QStringLiteral("Could not unzip '%1' to '%2'").arg(source, destination),
        list, source, destination, parent, parentProgressRange)
{
}

ASyncFunc* FileUnzipTaskSpecification::createFunction()
{
    return new FileUnzipFunc(source, destination, options);
}

FileUnzipFunc::FileUnzipFunc(const QString& source, const QString& destination, const InstallOptions& options)
    : SlowFileOpFunc(source, destination, options)
{
}

bool FileUnzipFunc::run()
{
    // A failed unpack cleans up after itself; removing destination here as
    // well could delete a file that was there before and is not ours.
    return destinationIsFree() && unzipFile(destination, source);
}

bool FileUnzipFunc::unzipFile(const QString& destination, const QString& source)
{
    // We open the source ourselves, with the file-system encoding, and hand
    // zlib the descriptor: its own open takes a narrow name, and names
    // outside ASCII must work.
    const int fd = openRetrying(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failed(errno);
    gzFile stream = gzdopen(fd, "rb");
    if (!stream) {
        ::close(fd);
        return false;
    }
    gzrewind(stream);

    StagedFile output(destination, creationMode());
    if (!output.isOpen()) {
        const int cause = errno;
        gzclose(stream);
        return failed(cause);
    }

    char buffer[bufferSize];
    qint64 written = 0;
    for (;;) {
        // Given up: the staged file goes, and the task waits for no more.
        if (abandoned())
            break;
        const int n = gzread(stream, buffer, bufferSize);
        if (n < 0)
            break;
        if (n == 0) {
            // zlib reports a gzip stream cut short as a soft error after the
            // last bytes it could decode, not as a read error.
            int errnum = Z_OK;
            gzerror(stream, &errnum);
            const bool complete = errnum == Z_OK;
            gzclose(stream);
            return complete && installStaged(output);
        }
        // A few kilobytes of gzip can unpack to gigabytes: a stream that
        // grows past its listed size is not the file, and must not fill the
        // disk before its digest says so.
        if (options.sizeLimit >= 0 && written + n > options.sizeLimit) {
            emit message(QStringLiteral("'%1' unpacks to more than its listed %2 bytes")
                             .arg(source)
                             .arg(options.sizeLimit));
            break;
        }
        if (!output.write(buffer, n)) {
            failed(errno);
            break;
        }
        written += n;
    }
    gzclose(stream);
    return false;
}
