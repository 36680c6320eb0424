// RSA signatures over SHA-1 or SHA-256 digests with fixed parameters, on top of
// libtomcrypt (libtommath as big-number provider): key making, import and
// export, whole-file I/O.
#pragma once

#include <exception>
#include <string>

struct Rsa_key; // libtomcrypt's key structure; include <tomcrypt.h> to hold one

/// Size of the key files the tools write, of the embedded key and of the
/// buffer keys are exported into: room for the DER form of a private key of
/// maxKeyBits (about 2350 bytes for 4096 bits), zero-padded.
constexpr unsigned long keyFileSize = 4096;
/// Size of the key files older tools wrote, which hold keys of up to 3072 bits
/// and are still read as they are.
constexpr unsigned long oldKeyFileSize = 2048;
/// Length of a SHA-1 digest.
constexpr unsigned long digestSize = 20;
/// Length of the RSASSA-PSS salt of SHA-1 signatures, in bytes.
constexpr unsigned long pssSaltLength = 8;
/// Length of a SHA-256 digest, and of the salt of SHA-256 signatures (as
/// openssl's "-sigopt rsa_pss_saltlen:32" makes them).
constexpr unsigned long sha256DigestSize = 32;
constexpr unsigned long pss256SaltLength = 32;

/// The digest a signature is made over: SHA-1 with an 8-byte salt (the
/// ".sig" files), or SHA-256 with a 32-byte salt (".sig256"). MGF1 uses the
/// same digest.
enum class SignatureHash { Sha1, Sha256 };
/// Sizes of the keys create_key makes, in bits. Signatures of larger keys that
/// fit a key file verify all the same.
constexpr int defaultKeyBits = 3072;
constexpr int minKeyBits = 1024;
constexpr int maxKeyBits = 4096;
/// Whether a key of bits bits can be made and stored: in range, whole bytes.
constexpr bool validKeyBits(long bits)
{
    return bits >= minKeyBits && bits <= maxKeyBits && bits % 8 == 0;
}

/// The only exception the key utilities throw; what() names the failing call.
class crypt_exception : public std::exception {
public:
    explicit crypt_exception(std::string message);
    const char* what() const noexcept override;

private:
    std::string message;
};

/// Registers SHA-1, SHA-256 and the system random source and selects libtommath. Call it
/// on one thread before any other function; calling it again changes nothing.
/// Afterwards the other functions may run on several threads at once, each
/// with its own key and buffers.
void crypt_init();

/// SHA-1 of len bytes at in (which may be null when len is 0) into the
/// digestSize bytes at out.
void hash_msg(const unsigned char* in, unsigned long len, unsigned char* out);

/// True if sig is a valid RSASSA-PSS signature of data over the digest hash.
/// Throws for a malformed signature, including one whose length is not the
/// modulus length.
bool verify_msg(Rsa_key* key, const unsigned char* data, unsigned long dataLen, unsigned char* sig,
    unsigned long sigLen, SignatureHash hash = SignatureHash::Sha1);

/// Signs data with the scheme verify_msg expects. *outLen is the room at out on
/// entry and the signature length (the modulus length) on return.
void sign_msg(Rsa_key* key, const unsigned char* data, unsigned long len, unsigned char* out,
    unsigned long* outLen, SignatureHash hash = SignatureHash::Sha1);

/// The digest of len bytes at in (null allowed for none) that hash signs,
/// into out (digestSize or sha256DigestSize bytes); returns its length.
unsigned long hash_for_signature(
    SignatureHash hash, const unsigned char* in, unsigned long len, unsigned char* out);
/// The library's index of hash, and the salt length its signatures use.
int signature_hash_index(SignatureHash hash);
unsigned long signature_salt_length(SignatureHash hash);

/// Makes a new key pair of bits bits (minKeyBits to maxKeyBits, a multiple of
/// 8) with public exponent 65537. Free it with rsa_free.
void create_key(Rsa_key* key, int bits = defaultKeyBits);

/// Imports a key (PKCS #1 private or public, or SubjectPublicKeyInfo) from memory.
/// On success the caller frees it with rsa_free; on failure nothing is left to free.
void load_key(Rsa_key* key, const unsigned char* in, unsigned long len);
/// Imports a key from a key file: its first keyFileSize bytes, zero-padded when
/// the file is shorter (as one of oldKeyFileSize is). A file that cannot be
/// read fails as an import error.
void load_key(Rsa_key* key, const char* fileName);
/// Writes a key file of exactly keyFileSize bytes: the exported key (type is
/// PK_PUBLIC or PK_PRIVATE) followed by zeros. A private key file is made
/// readable and writable by its owner only, also when it existed before.
void save_key(Rsa_key* key, int type, const char* fileName);

/// A short text that names the public half of key, the same for a private key
/// and its public key: "SHA256:" and the unpadded base64 of the SHA-256 digest
/// of the PKCS #1 RSAPublicKey DER encoding.
std::string key_fingerprint(Rsa_key* key);

/// Reads a whole file into *data, which must be null or a malloc'ed block on
/// entry; the caller frees it with free(). *len is the number of bytes read.
void read_file(const char* fileName, unsigned char** data, unsigned long* len);
/// Writes len bytes as the whole content of fileName.
void write_file(const char* fileName, unsigned char* data, unsigned long len);

/// Throws crypt_exception "name: <library's text>" unless err is CRYPT_OK.
void check_err(const char* name, int err);

/// Frees a key that was made or loaded successfully when the scope ends.
class RsaKeyGuard final {
public:
    explicit RsaKeyGuard(Rsa_key* key)
        : key(key)
    {
    }
    ~RsaKeyGuard();
    RsaKeyGuard(const RsaKeyGuard&) = delete;
    RsaKeyGuard& operator=(const RsaKeyGuard&) = delete;

private:
    Rsa_key* key;
};
