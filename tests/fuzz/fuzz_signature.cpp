// Fuzz target: signature checks with arbitrary signature bytes and key files:
// the key utilities with a key file the input brings, and the updater's own
// check of a product ini and its ".sig" or ".sig256" file against the
// built-in keys.
// Input: key file, signature and signed data, as three parts.
#include "fuzzsupport.h"

#include <QFile>

#include <tomcrypt.h>

#include "crypto/checksignaturetaskspecification.h"
#include "crypto/tomcryptutil.h"

using namespace FuzzSupport;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    startApplication(argc, argv);
    crypt_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = split(bytes(data, size), 3);
    QByteArray signature = parts[1];
    const QByteArray& signedData = parts[2];

    const QString keyFile = freshPath(QStringLiteral("public.key"));
    writeFile(keyFile, parts[0]);
    for (const SignatureHash hash : {SignatureHash::Sha1, SignatureHash::Sha256}) {
        try {
            rsa_key key;
            load_key(&key, QFile::encodeName(keyFile).constData());
            RsaKeyGuard guard(&key);
            verify_msg(&key, reinterpret_cast<const unsigned char*>(signedData.constData()),
                static_cast<unsigned long>(signedData.size()),
                reinterpret_cast<unsigned char*>(signature.data()),
                static_cast<unsigned long>(signature.size()), hash);
        } catch (const crypt_exception&) {
            // A malformed key or signature is refused; that is all it may do.
        }
        signature = parts[1];
    }
    remove(keyFile);

    const QString product = freshPath(QStringLiteral("client.ini"));
    writeFile(product, signedData);
    for (const QString& suffix : {QStringLiteral(".sig"), QStringLiteral(".sig256")}) {
        writeFile(product + suffix, parts[1]);
        CheckSigFunc(product, QString()).run();
    }
    remove(product);
    remove(product + QStringLiteral(".sig"));
    remove(product + QStringLiteral(".sig256"));
    return 0;
}
