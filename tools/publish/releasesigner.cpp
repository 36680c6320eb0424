// PSS wants a salt nobody can predict, not a fresh one each time: a salt drawn
// from a stream seeded with the private key and the signed content is as
// unguessable as the key, and makes publishing reproducible.
#include "releasesigner.h"

#include "common/keyfile.h"
#include "crypto/tomcryptutil.h"
#include "posixfile.h"
#include "publishexit.h"

#include <QCryptographicHash>
#include <QFile>

#include <utility>

#include <tomcrypt.h>

namespace {

QByteArray readAll(const QString& path, PublishExit code, const QString& what)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ToolError(code, QStringLiteral("Cannot read %1 %2: %3").arg(what, path, file.errorString()));
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ToolError(code, QStringLiteral("Cannot read %1 %2: %3").arg(what, path, file.errorString()));
    return data;
}

const unsigned char* bytes(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

} // namespace

ReleaseSigner::ReleaseSigner(const QString& keyFile)
{
    try {
        crypt_init();
    } catch (const crypt_exception& e) {
        throw ToolError(PublishCrypto, QString::fromLocal8Bit(e.what()));
    }
    key = std::make_unique<KeyFile>(keyFile.toStdString(), KeyFile::Need::PrivateKey);
}

ReleaseSigner::~ReleaseSigner() = default;

void ReleaseSigner::signFile(const QString& path) const
{
    const QByteArray data = readAll(path, PublishOutput, QStringLiteral("the file to sign"));
    const QByteArray sha1 = sign(path, data, SignatureHash::Sha1);
    const QByteArray sha256 = sign(path, data, SignatureHash::Sha256);
    for (const auto& [suffix, sig] : {std::pair {".sig", sha1}, std::pair {".sig256", sha256}}) {
        PosixFile out = PosixFile::createForWriting(path + QLatin1String(suffix), 0644);
        out.write(sig.constData(), sig.size());
        out.close();
    }
}

QByteArray ReleaseSigner::sign(const QString& path, const QByteArray& data, SignatureHash hash) const
{
    unsigned char digest[sha256DigestSize];
    const unsigned long digestLength =
        hash_for_signature(hash, bytes(data), static_cast<unsigned long>(data.size()), digest);

    // The two signatures draw from streams of their own, so adding the
    // second left the first as it always was.
    const std::vector<unsigned char>& keyBytes = key->content();
    QByteArray seed = QCryptographicHash::hash(QByteArrayView(keyBytes.data(), qsizetype(keyBytes.size())),
                          QCryptographicHash::Sha1)
        + QCryptographicHash::hash(data, QCryptographicHash::Sha1);
    if (hash == SignatureHash::Sha256)
        seed += "sha256";
    const int prngIdx = register_prng(&chacha20_prng_desc);
    prng_state prng;
    unsigned char sig[keyFileSize];
    unsigned long sigLen = sizeof sig;
    try {
        check_err("chacha20_prng_start", chacha20_prng_start(&prng));
        check_err("chacha20_prng_add_entropy",
            chacha20_prng_add_entropy(bytes(seed), static_cast<unsigned long>(seed.size()), &prng));
        check_err("chacha20_prng_ready", chacha20_prng_ready(&prng));
        const int err = rsa_sign_hash_ex(digest, digestLength, sig, &sigLen, LTC_PKCS_1_PSS, &prng, prngIdx,
            signature_hash_index(hash), signature_salt_length(hash), key->key());
        chacha20_prng_done(&prng);
        check_err("rsa_sign_hash_ex", err);
        // Never publish a signature the updater would refuse.
        if (!verify_msg(key->key(), bytes(data), static_cast<unsigned long>(data.size()), sig, sigLen, hash))
            throw crypt_exception("the new signature does not verify");
    } catch (const crypt_exception& e) {
        throw ToolError(
            PublishCrypto, QStringLiteral("Cannot sign %1: %2").arg(path, QString::fromLocal8Bit(e.what())));
    }
    return QByteArray(reinterpret_cast<const char*>(sig), qsizetype(sigLen));
}
