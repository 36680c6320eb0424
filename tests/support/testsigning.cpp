// Signatures the updater accepts, made with the build's development key.
#include "testsigning.h"

#include <QFile>

#include <tomcrypt.h>

#include "crypto/tomcryptutil.h"
#include "testfiles.h"

namespace TestSigning {

QString devPrivateKeyPath()
{
    return QStringLiteral(CORVANE_DEV_PRIVATE_KEY);
}

QByteArray sign(const QByteArray& data, const QString& keyFile, SignatureHash hash)
{
    try {
        crypt_init();
        rsa_key key;
        load_key(&key, QFile::encodeName(keyFile).constData());
        RsaKeyGuard guard(&key);
        QByteArray sig(int(keyFileSize), '\0');
        unsigned long sigLen = keyFileSize;
        sign_msg(&key, reinterpret_cast<const unsigned char*>(data.constData()),
            static_cast<unsigned long>(data.size()), reinterpret_cast<unsigned char*>(sig.data()), &sigLen,
            hash);
        sig.resize(qsizetype(sigLen));
        return sig;
    } catch (const crypt_exception& e) {
        qWarning("signing failed: %s", e.what());
        return {};
    }
}

bool signFile(const QString& path, SignatureHash hash)
{
    const QString keyFile = devPrivateKeyPath();
    if (keyFile.isEmpty())
        return false;
    const QByteArray sig = sign(TestFiles::read(path), keyFile, hash);
    const QString suffix = hash == SignatureHash::Sha256 ? QStringLiteral(".sig256") : QStringLiteral(".sig");
    return !sig.isEmpty() && TestFiles::write(path + suffix, sig);
}

} // namespace TestSigning
