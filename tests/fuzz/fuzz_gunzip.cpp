// Fuzz target: a downloaded file that the product ini marks as packed, checked
// by its digest, unpacked into the client directory and the result checked
// by its own digest, as the installation does it. Whatever the bytes, an
// unpack either delivers a whole file or leaves nothing behind.
#include "fuzzsupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include "crypto/checksignaturetaskspecification.h"
#include "fileops/fileunziptaskspecification.h"

using namespace FuzzSupport;

namespace {

QString md5Of(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

// The same digest with its last digit changed.
QString otherMd5(QString md5)
{
    md5.back() = md5.back() == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
    return md5;
}

void expectDigestCheck(const QString& path, const QByteArray& content)
{
    const QString md5 = md5Of(content);
    expect(CheckSigFunc(path, md5).run(), "the right digest failed", path);
    expect(CheckSigFunc(path, md5.toUpper()).run(), "the right digest in capitals failed", path);
    expect(!CheckSigFunc(path, otherMd5(md5)).run(), "a wrong digest passed", path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    startApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray download = bytes(data, size);
    const QString source = freshPath(QStringLiteral("file.gz"));
    const QString target = freshPath(QStringLiteral("file"));
    writeFile(source, download);
    expectDigestCheck(source, download);

    FileUnzipFunc unzip(source, target);
    if (unzip.run()) {
        QFile unpacked(target);
        expect(unpacked.open(QIODevice::ReadOnly), "the unpacked file cannot be read", target);
        expectDigestCheck(target, unpacked.readAll());
    } else {
        expect(!QFileInfo::exists(target), "a failed unpack left a file behind", target);
    }
    // The unpack never touches what it reads.
    QFile kept(source);
    expect(kept.open(QIODevice::ReadOnly) && kept.readAll() == download, "the download changed", source);
    remove(source);
    remove(target);
    return 0;
}
