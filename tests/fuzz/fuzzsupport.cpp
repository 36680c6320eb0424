// What the fuzz targets share.
#include "fuzzsupport.h"

#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace FuzzSupport {

namespace {

quint64 nextName = 0;

QTemporaryDir& scratch()
{
    // Lives until the process ends; a crash leaves it behind, with the input
    // that caused the crash on disk as the code under test saw it.
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/corvane-fuzz-XXXXXX"));
    if (!dir.isValid())
        fail("cannot create the scratch directory", dir.errorString());
    return dir;
}

} // namespace

void startApplication(int* argc, char*** argv)
{
    new QCoreApplication(*argc, *argv);
}

QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
}

QList<QByteArray> split(const QByteArray& input, int count)
{
    QList<QByteArray> parts;
    qsizetype from = 0;
    while (parts.size() < count - 1) {
        const qsizetype at = input.indexOf(partSeparator, from);
        if (at < 0)
            break;
        parts.append(input.mid(from, at - from));
        from = at + partSeparator.size();
    }
    parts.append(input.mid(from));
    while (parts.size() < count)
        parts.append(QByteArray());
    return parts;
}

QString scratchDir()
{
    return scratch().path();
}

QString freshName(const QString& stem)
{
    return stem + QString::number(nextName++);
}

QString freshPath(const QString& name)
{
    return scratchDir() + QLatin1Char('/') + freshName(name);
}

QString freshDir()
{
    const QString path = freshPath(QStringLiteral("dir"));
    if (!QDir().mkdir(path))
        fail("cannot create a directory", path);
    return path;
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        fail("cannot write a scratch file", path);
}

void remove(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

void fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "fuzz target: %s%s%s\n", what, detail.isEmpty() ? "" : ": ", qUtf8Printable(detail));
    std::abort();
}

} // namespace FuzzSupport
