// Messages about local write failures.
#include "writefailure.h"

#include <cerrno>
#include <cstring>

#include <sys/statvfs.h>

#include <QFile>
#include <QLocale>
#include <QString>

namespace {

QString size(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes);
}

} // namespace

namespace WriteFailure {

qint64 freeSpace(const QString& dir)
{
    struct statvfs info { };
    if (::statvfs(QFile::encodeName(dir).constData(), &info) != 0)
        return -1;
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}

QString message(const QString& dir, int errorCode, qint64 bytesNeeded, qint64 bytesFree)
{
    QString text = QStringLiteral("Cannot store the downloads in %1: %2.")
                       .arg(dir, QString::fromLocal8Bit(std::strerror(errorCode)));
    if ((errorCode != ENOSPC && errorCode != EDQUOT) || bytesNeeded < 0)
        return text;
    text += QStringLiteral(" They still need %1 there").arg(size(bytesNeeded));
    // Under a quota the file system's free space says nothing about ours.
    if (errorCode == ENOSPC && bytesFree >= 0)
        text += QStringLiteral(", %1 are free").arg(size(bytesFree));
    return text + QLatin1Char('.');
}

} // namespace WriteFailure
