// Key files as the tools read them: every way a key file can be wrong gets a
// message of its own and the one exit status the tools use for key problems.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "crypto/tomcryptutil.h"

/// Exit status of every tool for a key file that is missing, unreadable,
/// malformed or of the wrong kind.
constexpr int keyFileExit = 4;

class KeyFile final {
public:
    enum class Need { PrivateKey, PublicKey, AnyKey };

    /// Loads the key file at path; throws ToolError(keyFileExit) when it is not
    /// a key file of the kind needed. Warns when a private key can be read by
    /// group or others. crypt_init must have run.
    KeyFile(const std::string& path, Need need);

    Rsa_key* key() const { return rsaKey.get(); }
    bool isPrivate() const;
    int bits() const;
    /// The bytes of the file as read.
    const std::vector<unsigned char>& content() const { return bytes; }
    /// Empty when sig is a valid signature of data with this key, otherwise
    /// why not, in words for the publisher.
    std::string signatureProblem(const unsigned char* data, size_t dataLen, const unsigned char* sig,
        size_t sigLen, SignatureHash hash = SignatureHash::Sha1) const;

private:
    struct Free {
        void operator()(Rsa_key* key) const;
    };
    std::unique_ptr<Rsa_key, Free> rsaKey;
    std::vector<unsigned char> bytes;
};
