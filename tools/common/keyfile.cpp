// load_key itself reports a missing or short file only as an import error;
// the checks here come first so the publisher learns what is actually wrong.
#include "keyfile.h"

#include "common/toolmain.h"
#include "crypto/tomcryptutil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <tomcrypt.h>

namespace {

std::string systemReason()
{
    return std::strerror(errno);
}

std::vector<unsigned char> readKeyFile(const std::string& path, const std::string& what)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        throw ToolError(keyFileExit, "Cannot read " + what + " " + path + ": " + systemReason());
    std::vector<unsigned char> content;
    unsigned char block[4096];
    size_t got = 0;
    // A key file is small; stop soon after any size a key file can have.
    while ((got = std::fread(block, 1, sizeof block, file)) > 0 && content.size() <= 4 * keyFileSize)
        content.insert(content.end(), block, block + got);
    const bool failed = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    if (failed)
        throw ToolError(keyFileExit, "Cannot read " + what + " " + path + ": " + std::strerror(readErrno));
    return content;
}

void warnIfExposed(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0 || (info.st_mode & (S_IRWXG | S_IRWXO)) == 0)
        return;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(info.st_mode & 07777));
    toolWarning("the private key " + path + " can be read by group or others (mode " + mode
        + "); make it private with: chmod 600 " + path);
}

} // namespace

KeyFile::KeyFile(const std::string& path, Need need)
{
    const std::string what = need == Need::PrivateKey ? "the private key" : "the key file";
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT)
        throw ToolError(keyFileExit,
            (need == Need::PrivateKey ? "Private key file" : "Key file") + std::string(" not found: ")
                + path);
    bytes = readKeyFile(path, what);
    if (bytes.size() != keyFileSize && bytes.size() != oldKeyFileSize)
        throw ToolError(keyFileExit,
            path + " is " + std::to_string(bytes.size()) + " bytes long; a key file is "
                + std::to_string(keyFileSize) + " bytes (" + std::to_string(oldKeyFileSize)
                + " from older tools; convert other keys with 'corvane-keytool import')");
    auto loaded = std::make_unique<Rsa_key>();
    try {
        load_key(loaded.get(), bytes.data(), static_cast<unsigned long>(bytes.size()));
    } catch (const crypt_exception& e) {
        throw ToolError(keyFileExit, path + " is not a key file: " + e.what());
    }
    rsaKey.reset(loaded.release());
    if (isPrivate())
        warnIfExposed(path);
    if (need == Need::PrivateKey && !isPrivate())
        throw ToolError(keyFileExit, path + " holds a public key; signing needs the private key");
    if (need == Need::PublicKey && isPrivate())
        throw ToolError(keyFileExit, path + " holds a private key; only a public key may be embedded");
}

void KeyFile::Free::operator()(Rsa_key* key) const
{
    rsa_free(key);
    delete key;
}

bool KeyFile::isPrivate() const
{
    return rsaKey->type == PK_PRIVATE;
}

int KeyFile::bits() const
{
    return rsa_get_size(rsaKey.get()) * 8;
}

std::string KeyFile::signatureProblem(const unsigned char* data, size_t dataLen, const unsigned char* sig,
    size_t sigLen, SignatureHash hash) const
{
    const size_t modulusLength = size_t(rsa_get_size(rsaKey.get()));
    if (sigLen != modulusLength)
        return "the signature does not match this key (it is " + std::to_string(sigLen)
            + " bytes long; signatures of this key are " + std::to_string(modulusLength) + " bytes)";
    // PSS decoding with another key yields noise that fails the padding
    // checks, which the library reports as an error; with the right key the
    // padding decodes and only the digest differs.
    std::vector<unsigned char> signature(sig, sig + sigLen);
    try {
        if (verify_msg(rsaKey.get(), data, static_cast<unsigned long>(dataLen), signature.data(),
                static_cast<unsigned long>(signature.size()), hash))
            return {};
    } catch (const crypt_exception&) {
        return "the signature does not match this key";
    }
    return "the file changed after it was signed";
}
