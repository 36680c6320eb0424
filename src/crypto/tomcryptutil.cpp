// RSA signatures over SHA-1 or SHA-256 digests with fixed parameters, on top of libtomcrypt.
#include "tomcryptutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <tomcrypt.h>
#include <unistd.h>

namespace {

// Set once by crypt_init on one thread, read-only afterwards.
int hash_idx = -1;
int sha256_idx = -1;
int prng_idx = -1;

constexpr long publicExponent = 65537;
constexpr unsigned long readChunkSize = 2048;

// Without a math provider every big-number call jumps through a null pointer;
// fail like any other library error instead.
void requireInit()
{
    if (ltc_mp.name == nullptr || hash_idx < 0 || sha256_idx < 0 || prng_idx < 0)
        throw crypt_exception("crypt_init has not been called");
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

FilePtr openForWriting(const char* fileName, mode_t mode = 0666)
{
    const int fd = ::open(fileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    FilePtr file(fd < 0 ? nullptr : ::fdopen(fd, "wb"));
    if (!file) {
        if (fd >= 0)
            ::close(fd);
        throw crypt_exception(std::string("Cannot open file for writing: ") + fileName);
    }
    return file;
}

// A short write or a failing close (full disk, quota) would leave a truncated
// key or signature behind while reporting success.
void writeAndClose(FilePtr file, const char* fileName, const unsigned char* data, unsigned long len)
{
    const bool written = std::fwrite(data, 1, len, file.get()) == len;
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !closed)
        throw crypt_exception(std::string("Cannot write file: ") + fileName);
}

} // namespace

crypt_exception::crypt_exception(std::string message)
    : message(std::move(message))
{
}

const char* crypt_exception::what() const noexcept
{
    return message.c_str();
}

void crypt_init()
{
    if (register_prng(&sprng_desc) == -1)
        throw crypt_exception("Error registering sprng");
    ltc_mp = ltm_desc;
    if (register_hash(&sha1_desc) == -1)
        throw crypt_exception("Error registering sha1");
    if (register_hash(&sha256_desc) == -1)
        throw crypt_exception("Error registering sha256");
    hash_idx = find_hash("sha1");
    sha256_idx = find_hash("sha256");
    prng_idx = find_prng("sprng");
}

void hash_msg(const unsigned char* in, unsigned long len, unsigned char* out)
{
    // The hash refuses a null pointer even for no bytes (the process aborts),
    // and an empty file's buffer may be one.
    static const unsigned char nothing = 0;
    hash_state md;
    sha1_init(&md);
    sha1_process(&md, len > 0 ? in : &nothing, len);
    sha1_done(&md, out);
}

unsigned long hash_for_signature(
    SignatureHash hash, const unsigned char* in, unsigned long len, unsigned char* out)
{
    if (hash == SignatureHash::Sha1) {
        hash_msg(in, len, out);
        return digestSize;
    }
    static const unsigned char nothing = 0;
    hash_state md;
    sha256_init(&md);
    sha256_process(&md, len > 0 ? in : &nothing, len);
    sha256_done(&md, out);
    return sha256DigestSize;
}

int signature_hash_index(SignatureHash hash)
{
    requireInit();
    return hash == SignatureHash::Sha1 ? hash_idx : sha256_idx;
}

unsigned long signature_salt_length(SignatureHash hash)
{
    return hash == SignatureHash::Sha1 ? pssSaltLength : pss256SaltLength;
}

bool verify_msg(Rsa_key* key, const unsigned char* data, unsigned long dataLen, unsigned char* sig,
    unsigned long sigLen, SignatureHash hash)
{
    requireInit();
    unsigned char digest[sha256DigestSize];
    const unsigned long length = hash_for_signature(hash, data, dataLen, digest);
    int stat = 0;
    check_err("rsa_verify_hash",
        rsa_verify_hash_ex(sig, sigLen, digest, length, LTC_PKCS_1_PSS, signature_hash_index(hash),
            signature_salt_length(hash), &stat, key));
    return stat == 1;
}

void sign_msg(Rsa_key* key, const unsigned char* data, unsigned long len, unsigned char* out,
    unsigned long* outLen, SignatureHash hash)
{
    requireInit();
    unsigned char digest[sha256DigestSize];
    const unsigned long length = hash_for_signature(hash, data, len, digest);
    check_err("rsa_sign_hash",
        rsa_sign_hash_ex(digest, length, out, outLen, LTC_PKCS_1_PSS, nullptr, prng_idx,
            signature_hash_index(hash), signature_salt_length(hash), key));
}

void create_key(Rsa_key* key, int bits)
{
    requireInit();
    // The library makes keys in whole bytes; beyond maxKeyBits the private
    // key would not fit a key file.
    if (!validKeyBits(bits))
        throw crypt_exception("rsa_make_key: keys have " + std::to_string(minKeyBits) + " to "
            + std::to_string(maxKeyBits) + " bits, a multiple of 8, not " + std::to_string(bits));
    check_err("rsa_make_key", rsa_make_key(nullptr, prng_idx, bits / 8, publicExponent, key));
}

void load_key(Rsa_key* key, const unsigned char* in, unsigned long len)
{
    requireInit();
    // The library aborts the process on a null pointer; an empty file gives one.
    if (in == nullptr || len == 0)
        throw crypt_exception("rsa_import: no key data");
    check_err("rsa_import", rsa_import(in, len, key));
}

void load_key(Rsa_key* key, const char* fileName)
{
    // Zeros behind a short or unreadable file make the import fail cleanly
    // instead of parsing leftovers from the stack.
    unsigned char buffer[keyFileSize] = {};
    if (FilePtr file {std::fopen(fileName, "rb")})
        std::fread(buffer, 1, sizeof buffer, file.get());
    load_key(key, buffer, sizeof buffer);
}

void save_key(Rsa_key* key, int type, const char* fileName)
{
    unsigned char buffer[keyFileSize] = {};
    unsigned long len = sizeof buffer;
    check_err("rsa_export", rsa_export(buffer, &len, type, key));
    if (type != PK_PRIVATE) {
        writeAndClose(openForWriting(fileName), fileName, buffer, sizeof buffer);
        return;
    }
    // Whoever can read the private key can sign releases every updater
    // accepts. The mode given to open() does not change a file that exists.
    FilePtr file = openForWriting(fileName, S_IRUSR | S_IWUSR);
    if (::fchmod(::fileno(file.get()), S_IRUSR | S_IWUSR) != 0)
        throw crypt_exception(std::string("Cannot make the key file private: ") + fileName);
    writeAndClose(std::move(file), fileName, buffer, sizeof buffer);
}

std::string key_fingerprint(Rsa_key* key)
{
    requireInit();
    unsigned char der[keyFileSize];
    unsigned long derLen = sizeof der;
    check_err("rsa_export", rsa_export(der, &derLen, PK_PUBLIC, key));
    hash_state md;
    unsigned char digest[32];
    sha256_init(&md);
    sha256_process(&md, der, derLen);
    sha256_done(&md, digest);
    unsigned char text[64];
    unsigned long textLen = sizeof text;
    check_err("base64_encode", base64_encode(digest, sizeof digest, text, &textLen));
    std::string base64(reinterpret_cast<const char*>(text), textLen);
    base64.erase(base64.find_last_not_of('=') + 1);
    return "SHA256:" + base64;
}

void read_file(const char* fileName, unsigned char** data, unsigned long* len)
{
    *len = 0;
    FilePtr file(std::fopen(fileName, "rb"));
    if (!file)
        throw crypt_exception(std::string("Cannot open file for reading: ") + fileName);
    for (;;) {
        auto* grown = static_cast<unsigned char*>(std::realloc(*data, *len + readChunkSize));
        if (grown == nullptr)
            throw crypt_exception(std::string("Out of memory reading file: ") + fileName);
        *data = grown;
        const size_t got = std::fread(*data + *len, 1, readChunkSize, file.get());
        *len += got;
        if (got < readChunkSize)
            break;
    }
    // A read error must not pass for the end of a shorter file.
    if (std::ferror(file.get()))
        throw crypt_exception(std::string("Cannot read file: ") + fileName);
}

void write_file(const char* fileName, unsigned char* data, unsigned long len)
{
    writeAndClose(openForWriting(fileName), fileName, data, len);
}

void check_err(const char* name, int err)
{
    if (err != CRYPT_OK)
        throw crypt_exception(std::string(name) + ": " + error_to_string(err));
}

RsaKeyGuard::~RsaKeyGuard()
{
    rsa_free(key);
}
