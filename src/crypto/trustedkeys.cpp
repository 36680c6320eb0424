// The keys this build trusts.
#include "trustedkeys.h"

#include <QByteArray>

#include <tomcrypt.h>

#include "crypto/publickey.h"

namespace TrustedKeys {

QStringList fingerprints()
{
    QStringList list;
    for (int i = 0; i < publicKeyCount; ++i)
        list.append(QString::fromLatin1(publicKeyFingerprints[i]));
    return list;
}

bool verify(const QByteArray& data, const QByteArray& sig, SignatureHash hash)
{
    // The library may scribble on the signature while it decodes it; each
    // key gets a fresh copy.
    for (int i = 0; i < publicKeyCount; ++i) {
        QByteArray signature = sig;
        try {
            rsa_key key;
            load_key(&key, PUBLIC_KEYS[i], keyFileSize);
            RsaKeyGuard guard(&key);
            if (verify_msg(&key, reinterpret_cast<const unsigned char*>(data.constData()),
                    static_cast<unsigned long>(data.size()),
                    reinterpret_cast<unsigned char*>(signature.data()),
                    static_cast<unsigned long>(signature.size()), hash))
                return true;
        } catch (const crypt_exception&) {
            // The signature of another key's size, or noise: not this key's.
        }
    }
    return false;
}

} // namespace TrustedKeys
