// Small file helpers shared by the tests.
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <zlib.h>

namespace TestFiles {

bool write(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size();
}

QByteArray noise(qint64 size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 24);
    }
    return data;
}

QByteArray read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray md5Hex(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

QByteArray gzip(const QByteArray& data)
{
    z_stream stream {};
    // windowBits 15 + 16 asks zlib for a gzip header and trailer.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))) + 64, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int rc = deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return rc == Z_STREAM_END ? out : QByteArray();
}

QMap<QString, QString> snapshot(const QString& root)
{
    QMap<QString, QString> entries;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString key = base.relativeFilePath(path);
        if (info.isSymLink())
            entries.insert(key, QStringLiteral("-> ") + info.symLinkTarget());
        else if (info.isDir())
            entries.insert(key, QStringLiteral("<dir>"));
        else
            entries.insert(key,
                QString::fromLatin1(md5Hex(read(path))) + QLatin1Char(' ')
                    + QString::number(int(info.permissions()), 16));
    }
    return entries;
}

} // namespace TestFiles
