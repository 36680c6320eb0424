// Verifies one file by MD5 digest or by RSA signature, on the thread pool.
#include "checksignaturetaskspecification.h"

#include <utility>

#include <QByteArray>
#include <QFile>

#include <tomcrypt.h>

#include "crypto/filemd5.h"
#include "crypto/publickey.h"
#include "crypto/tomcryptutil.h"

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
    if (knownDigest.isEmpty() || md5.isEmpty()) {
        ASyncTaskSpecification::execute();
        return;
    }
    setRunning();
    runDone(QString::fromLatin1(knownDigest).compare(md5, Qt::CaseInsensitive) == 0);
}

ASyncFunc* CheckSignatureTaskSpecification::createFunction()
{
    return new CheckSigFunc(filePath, md5);
}

void CheckSignatureTaskSpecification::runDone(bool ok)
{
    // A result that arrives after reset() belongs to a run nobody waits for.
    if (state() != Running)
        return;
    if (ok) {
        emit checkDone(true, this);
        finish();
        return;
    }
    // A release signed with another key fails here: the fingerprint lets
    // the publisher compare it with 'corvane-keytool fingerprint'.
    if (md5.isEmpty())
        emit message(QStringLiteral("Signature check failed for %1 (the updater trusts the key %2)")
                         .arg(filePath, QLatin1String(publicKeyFingerprint)));
    else
        emit message(QStringLiteral("Signature check failed for %1").arg(filePath));
    emit checkDone(false, this);
    if (failOnMismatch)
        errorCancel();
    else
        finish();
}

CheckSigFunc::CheckSigFunc(const QString& filePath, const QString& md5)
    : filePath(filePath)
    , md5(md5)
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
    QByteArray data;
    QByteArray sig;
    if (!readFile(filePath, data) || !readFile(filePath + QStringLiteral(".sig"), sig))
        return false;
    // A malformed key or signature (a wrong length included) is a failed
    // check like any other; the caller reports it.
    try {
        rsa_key key;
        load_key(&key, PUBLIC_KEY, keyFileSize);
        RsaKeyGuard guard(&key);
        return verify_msg(&key, reinterpret_cast<const unsigned char*>(data.constData()),
            static_cast<unsigned long>(data.size()), reinterpret_cast<unsigned char*>(sig.data()),
            static_cast<unsigned long>(sig.size()));
    } catch (const crypt_exception&) {
        return false;
    }
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
