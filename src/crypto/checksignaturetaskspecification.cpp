// Verifies one file by MD5 digest or by RSA signature, on the thread pool.
#include "checksignaturetaskspecification.h"

#include <utility>

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include "crypto/filemd5.h"
#include "crypto/trustedkeys.h"

namespace {

// "the key SHA256:..." or "the keys SHA256:..., SHA256:...".
QString trustedKeysText()
{
    const QStringList keys = TrustedKeys::fingerprints();
    return (keys.size() == 1 ? QStringLiteral("the key ") : QStringLiteral("the keys "))
        + keys.join(QStringLiteral(", "));
}

} // namespace

CheckSignatureTaskSpecification::CheckSignatureTaskSpecification(
    QString filePath, QString md5, bool failOnMismatch, QObject* parent, double parentProgressRange)
    : ASyncTaskSpecification(parent, parentProgressRange)
    , filePath(std::move(filePath))
    , md5(std::move(md5))
    , failOnMismatch(failOnMismatch)
{
}

void CheckSignatureTaskSpecification::execute()
{
    verifiedDigest.clear();
    if (knownDigest.isEmpty() || md5.isEmpty()) {
        ASyncTaskSpecification::execute();
        return;
    }
    setRunning();
    runDone(QString::fromLatin1(knownDigest).compare(md5, Qt::CaseInsensitive) == 0);
}

ASyncFunc* CheckSignatureTaskSpecification::createFunction()
{
    runDigest = std::make_shared<QByteArray>();
    return new CheckSigFunc(filePath, md5, md5.isEmpty() ? runDigest : nullptr);
}

void CheckSignatureTaskSpecification::runDone(bool ok)
{
    // A result that arrives after reset() belongs to a run nobody waits for.
    if (state() != Running)
        return;
    if (ok) {
        if (md5.isEmpty() && runDigest)
            verifiedDigest = *runDigest;
        emit checkDone(true, this);
        finish();
        return;
    }
    // A release signed with another key fails here: the fingerprints let
    // the publisher compare them with 'corvane-keytool fingerprint'.
    if (md5.isEmpty())
        emit message(QStringLiteral("Signature check failed for %1 (the updater trusts %2)")
                         .arg(filePath, trustedKeysText()));
    else
        emit message(QStringLiteral("Signature check failed for %1").arg(filePath));
    emit checkDone(false, this);
    if (failOnMismatch)
        errorCancel();
    else
        finish();
}

CheckSigFunc::CheckSigFunc(const QString& filePath, const QString& md5, std::shared_ptr<QByteArray> sha256)
    : filePath(filePath)
    , md5(md5)
    , sha256(std::move(sha256))
{
}

bool CheckSigFunc::run()
{
    return md5.isEmpty() ? checkRSA() : checkMD5();
}

bool CheckSigFunc::checkMD5()
{
    // Release files can be several GiB; the digest is taken block by block so
    // that a check needs the same memory whatever the size of the file.
    FileMd5 file;
    switch (file.digest(filePath)) {
    case FileMd5::Digested:
        return QString::fromLatin1(file.hex()).compare(md5, Qt::CaseInsensitive) == 0;
    case FileMd5::NotOpened:
        emit message(QStringLiteral("Could not open file %1 for reading").arg(filePath));
        return false;
    default:
        emit message(QStringLiteral("could not read file %1 correctly").arg(filePath));
        return false;
    }
}

bool CheckSigFunc::checkRSA()
{
    // A mirror that has a SHA-256 signature has it checked alone: a ".sig"
    // beside it must not give a way round it.
    const QString strongSig = filePath + QStringLiteral(".sig256");
    const bool strong = QFileInfo::exists(strongSig);
    QByteArray data;
    QByteArray sig;
    if (!readFile(filePath, data) || !readFile(strong ? strongSig : filePath + QStringLiteral(".sig"), sig))
        return false;
    if (!TrustedKeys::verify(data, sig, strong ? SignatureHash::Sha256 : SignatureHash::Sha1))
        return false;
    if (sha256)
        *sha256 = QCryptographicHash::hash(data, QCryptographicHash::Sha256);
    return true;
}

bool CheckSigFunc::readFile(QString name, QByteArray& data)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        emit message(QStringLiteral("Could not open file %1 for reading").arg(name));
        return false;
    }
    const qint64 size = file.size();
    data.resize(size);
    // Probe for one byte beyond the size: a file that grew since, or reports
    // no size at all, must not pass as complete.
    char beyond = 0;
    if (file.read(data.data(), size) != size || file.read(&beyond, 1) != 0) {
        emit message(QStringLiteral("could not read file %1 correctly").arg(name));
        return false;
    }
    file.close();
    return true;
}
