// PSS wants a salt nobody can predict, not a fresh one each time: a salt drawn
// from a stream seeded with the private key and the signed content is as
// unguessable as the key, and makes publishing reproducible.
#include "releasesigner.h"

#include "crypto/tomcryptutil.h"
#include "publishexit.h"

#include <QCryptographicHash>
#include <QFile>

#include <tomcrypt.h>

namespace {

constexpr unsigned long pssSaltLength = 8;

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
    : key(std::make_unique<Rsa_key>())
{
    crypt_init();
    if (!QFile::exists(keyFile))
        throw ToolError(PublishKey, QStringLiteral("Private key file not found: %1").arg(keyFile));
    keyBytes = readAll(keyFile, PublishKey, QStringLiteral("the private key"));
    if (quint64(keyBytes.size()) != KEY_FILE_SIZE)
        throw ToolError(PublishKey,
            QStringLiteral("%1 is %2 bytes long; a key file is %3 bytes (convert other keys with "
                           "corvane-keytool import)")
                .arg(keyFile)
                .arg(keyBytes.size())
                .arg(KEY_FILE_SIZE));
    try {
        load_key(key.get(), bytes(keyBytes), KEY_FILE_SIZE);
    } catch (const crypt_exception& e) {
        key.reset();
        throw ToolError(PublishKey,
            QStringLiteral("%1 is not a key file: %2").arg(keyFile, QString::fromLocal8Bit(e.what())));
    }
    if (key->type != PK_PRIVATE) {
        rsa_free(key.get());
        key.reset();
        throw ToolError(
            PublishKey, QStringLiteral("%1 holds a public key; signing needs the private key").arg(keyFile));
    }
}

ReleaseSigner::~ReleaseSigner()
{
    if (key)
        rsa_free(key.get());
}

void ReleaseSigner::signFile(const QString& path) const
{
    const QByteArray data = readAll(path, PublishOutput, QStringLiteral("the product ini"));
    unsigned char digest[DIGEST_SIZE];
    hash_msg(bytes(data), static_cast<unsigned long>(data.size()), digest);

    const QByteArray seed = QCryptographicHash::hash(keyBytes, QCryptographicHash::Sha1)
        + QCryptographicHash::hash(data, QCryptographicHash::Sha1);
    const int prngIdx = register_prng(&chacha20_prng_desc);
    const int hashIdx = find_hash("sha1");
    prng_state prng;
    unsigned char sig[KEY_FILE_SIZE];
    unsigned long sigLen = sizeof sig;
    try {
        check_err("chacha20_prng_start", chacha20_prng_start(&prng));
        check_err("chacha20_prng_add_entropy",
            chacha20_prng_add_entropy(bytes(seed), static_cast<unsigned long>(seed.size()), &prng));
        check_err("chacha20_prng_ready", chacha20_prng_ready(&prng));
        const int err = rsa_sign_hash_ex(digest, DIGEST_SIZE, sig, &sigLen, LTC_PKCS_1_PSS, &prng, prngIdx,
            hashIdx, pssSaltLength, key.get());
        chacha20_prng_done(&prng);
        check_err("rsa_sign_hash_ex", err);
        // Never publish a signature the updater would refuse.
        if (!verify_msg(key.get(), bytes(data), static_cast<unsigned long>(data.size()), sig, sigLen))
            throw crypt_exception("the new signature does not verify");
    } catch (const crypt_exception& e) {
        throw ToolError(
            PublishCrypto, QStringLiteral("Cannot sign %1: %2").arg(path, QString::fromLocal8Bit(e.what())));
    }

    QFile out(path + QStringLiteral(".sig"));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || out.write(reinterpret_cast<const char*>(sig), qint64(sigLen)) != qint64(sigLen) || !out.flush())
        throw ToolError(
            PublishOutput, QStringLiteral("Cannot write %1: %2").arg(out.fileName(), out.errorString()));
}
