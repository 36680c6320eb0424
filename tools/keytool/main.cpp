// corvane-keytool: makes the publisher's key pair, signs release files and
// checks signatures exactly as the updater does, and turns a public key into
// the source the build embeds.
#include "common/keyfile.h"
#include "common/toolmain.h"
#include "crypto/tomcryptutil.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <tomcrypt.h>

namespace {

enum ExitCode {
    ExitOk = 0,
    ExitBadSignature = 1,
    ExitUsage = usageExit,
    ExitFile = 3,
    ExitKey = keyFileExit,
    ExitCrypto = 5,
};

const char* const usage = R"(Usage: corvane-keytool COMMAND [ARGUMENTS] [OPTIONS]

Commands:
  create [--bits N] [--private FILE] [--public FILE] [--force]
        Make a new RSA key pair of N bits (1024 to 4096, a multiple of 8;
        default 3072) and write both halves as 4096-byte key files (default
        private.key, readable by you only, and public.key). Existing files are
        kept unless --force is given.
  sign FILE [--key PRIVATE_KEY]
        Write FILE.sig and FILE.sig256: the RSASSA-PSS signatures of FILE over
        SHA-1 (8-byte salt) and over SHA-256 (32-byte salt), with the default
        key private.key.
  verify FILE [--key PUBLIC_KEY]
        Check FILE.sig256 and FILE.sig, each that exists, against FILE
        (default key public.key). The updater uses FILE.sig256 alone where
        a mirror has it, FILE.sig otherwise.
  fingerprint KEY
        Print the fingerprint of the public half of a key file: the same for a
        private key and its public key, and the one the updater build prints
        for the key it embeds.
  import DER_FILE OUTPUT
        Convert a DER-encoded RSA key (PKCS #1 private or public key, or a
        SubjectPublicKeyInfo, as openssl writes them) into a key file.
  embed PUBLIC_KEY [PUBLIC_KEY...] OUTPUT
        Write the C++ source that defines PUBLIC_KEYS and their fingerprints
        for the updater build: it accepts a signature by any of them.
  --help
        Show this text.

A private key that group or others can read still works, with a warning.
Key files of 2048 bytes, as older versions of this tool wrote them, are read
wherever a key file is.

Exit status:
  0  success (for verify: every signature found is valid)
  1  a signature does not verify
  2  bad command line
  3  a file cannot be read or written
  4  a key file is missing, unreadable, malformed, of the wrong size or of the wrong type
  5  the cryptographic library failed
)";

bool fileExists(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0;
}

std::string absolutePath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::vector<unsigned char> readWhole(const std::string& path)
{
    unsigned char* data = nullptr;
    unsigned long len = 0;
    try {
        read_file(path.c_str(), &data, &len);
    } catch (const crypt_exception& e) {
        std::free(data);
        throw ToolError(ExitFile, e.what());
    }
    std::vector<unsigned char> content(data, data + len);
    std::free(data);
    return content;
}

void writeWhole(const std::string& path, std::vector<unsigned char> content)
{
    try {
        write_file(path.c_str(), content.data(), content.size());
    } catch (const crypt_exception& e) {
        throw ToolError(ExitFile, e.what());
    }
}

std::string fingerprint(Rsa_key* key)
{
    try {
        return key_fingerprint(key);
    } catch (const crypt_exception& e) {
        throw ToolError(ExitCrypto, e.what());
    }
}

// Reads "--name value" options after the positional arguments.
struct Arguments {
    std::vector<std::string> positional;
    std::string privateKey = "private.key";
    std::string publicKey = "public.key";
    std::string key;
    int bits = defaultKeyBits;
    bool force = false;
};

int parseBits(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const long bits = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || !validKeyBits(bits))
        throw ToolError(ExitUsage,
            "--bits takes a key size from " + std::to_string(minKeyBits) + " to " + std::to_string(maxKeyBits)
                + " bits, a multiple of 8, not \"" + text + "\"");
    return int(bits);
}

Arguments parse(int argc, char** argv, bool allowKey, bool allowCreateOptions)
{
    Arguments args;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool takesValue = (allowKey && arg == "--key")
            || (allowCreateOptions && (arg == "--private" || arg == "--public" || arg == "--bits"));
        if (takesValue) {
            if (i + 1 >= argc)
                throw ToolError(ExitUsage,
                    "Option " + arg + (arg == "--bits" ? " needs a number" : " needs a file name"));
            const std::string value = argv[++i];
            if (arg == "--bits")
                args.bits = parseBits(value);
            else if (arg == "--key")
                args.key = value;
            else if (arg == "--private")
                args.privateKey = value;
            else
                args.publicKey = value;
        } else if (allowCreateOptions && arg == "--force") {
            args.force = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw ToolError(ExitUsage, "Unknown option: " + arg);
        } else {
            args.positional.push_back(arg);
        }
    }
    return args;
}

void expectPositional(const Arguments& args, size_t count, const char* what)
{
    if (args.positional.size() != count)
        throw ToolError(ExitUsage, std::string("Expected ") + what);
}

int create(const Arguments& args)
{
    expectPositional(args, 0, "no arguments besides options for 'create'");
    if (args.privateKey == args.publicKey)
        throw ToolError(ExitUsage, "The private and the public key need different files");
    // Overwriting a private key loses the ability to sign for every updater
    // that trusts its public half.
    for (const std::string& path : {args.privateKey, args.publicKey}) {
        if (!args.force && fileExists(path))
            throw ToolError(ExitFile, path + " exists; use --force to replace it");
    }
    rsa_key key;
    try {
        create_key(&key, args.bits);
    } catch (const crypt_exception& e) {
        throw ToolError(ExitCrypto, e.what());
    }
    RsaKeyGuard guard(&key);
    try {
        save_key(&key, PK_PRIVATE, args.privateKey.c_str());
        save_key(&key, PK_PUBLIC, args.publicKey.c_str());
    } catch (const crypt_exception& e) {
        throw ToolError(ExitFile, e.what());
    }
    std::printf("Wrote the private key to %s (readable by you only; keep it secret)\n"
                "Wrote the public key to %s\n"
                "Fingerprint: %s (%d-bit RSA)\n",
        absolutePath(args.privateKey).c_str(), absolutePath(args.publicKey).c_str(),
        fingerprint(&key).c_str(), args.bits);
    return ExitOk;
}

// The two kinds of signature file, in the order the updater prefers them.
struct SignatureKind {
    const char* suffix;
    SignatureHash hash;
};
constexpr SignatureKind signatureKinds[] = {
    {".sig256", SignatureHash::Sha256}, {".sig", SignatureHash::Sha1}};

int sign(const Arguments& args)
{
    expectPositional(args, 1, "one FILE to sign");
    const std::string file = args.positional[0];
    const KeyFile key(args.key.empty() ? args.privateKey : args.key, KeyFile::Need::PrivateKey);
    const std::vector<unsigned char> data = readWhole(file);
    for (const SignatureKind& kind : signatureKinds) {
        std::vector<unsigned char> sig(keyFileSize);
        unsigned long sigLen = sig.size();
        try {
            sign_msg(key.key(), data.data(), data.size(), sig.data(), &sigLen, kind.hash);
        } catch (const crypt_exception& e) {
            throw ToolError(ExitCrypto, e.what());
        }
        sig.resize(sigLen);
        writeWhole(file + kind.suffix, sig);
        std::printf("Wrote %s%s\n", file.c_str(), kind.suffix);
    }
    return ExitOk;
}

int verify(const Arguments& args)
{
    expectPositional(args, 1, "one FILE to verify");
    const std::string file = args.positional[0];
    const KeyFile key(args.key.empty() ? args.publicKey : args.key, KeyFile::Need::AnyKey);
    const std::vector<unsigned char> data = readWhole(file);
    int found = 0;
    int status = ExitOk;
    for (const SignatureKind& kind : signatureKinds) {
        const std::string sigFile = file + kind.suffix;
        if (!fileExists(sigFile))
            continue;
        ++found;
        const std::vector<unsigned char> sig = readWhole(sigFile);
        const std::string problem =
            key.signatureProblem(data.data(), data.size(), sig.data(), sig.size(), kind.hash);
        if (problem.empty()) {
            std::printf("%s verifies\n", sigFile.c_str());
        } else {
            std::fprintf(stderr, "%s does not verify: %s\n", sigFile.c_str(), problem.c_str());
            status = ExitBadSignature;
        }
    }
    if (found == 0)
        throw ToolError(ExitFile, "Neither " + file + ".sig256 nor " + file + ".sig exists");
    return status;
}

int printFingerprint(const Arguments& args)
{
    expectPositional(args, 1, "one KEY file for 'fingerprint'");
    const std::string& path = args.positional[0];
    const KeyFile key(path, KeyFile::Need::AnyKey);
    std::printf("%s  %s (%d-bit RSA, %s key)\n", fingerprint(key.key()).c_str(), path.c_str(), key.bits(),
        key.isPrivate() ? "private" : "public");
    return ExitOk;
}

int import(const Arguments& args)
{
    expectPositional(args, 2, "DER_FILE and OUTPUT for 'import'");
    const std::string& der = args.positional[0];
    const std::vector<unsigned char> content = readWhole(der);
    if (content.size() > keyFileSize)
        throw ToolError(
            ExitKey, der + " is longer than a key file (" + std::to_string(keyFileSize) + " bytes)");
    rsa_key key;
    try {
        load_key(&key, content.data(), content.size());
    } catch (const crypt_exception& e) {
        throw ToolError(ExitKey, der + " is not a DER RSA key: " + e.what());
    }
    RsaKeyGuard guard(&key);
    try {
        save_key(&key, key.type, args.positional[1].c_str());
    } catch (const crypt_exception& e) {
        throw ToolError(ExitFile, e.what());
    }
    std::printf(
        "Wrote %s key %s\n", key.type == PK_PRIVATE ? "private" : "public", args.positional[1].c_str());
    return ExitOk;
}

int embed(const Arguments& args)
{
    if (args.positional.size() < 2)
        throw ToolError(ExitUsage, "Expected PUBLIC_KEY... and OUTPUT for 'embed'");
    const std::vector<std::string> keyFiles(args.positional.begin(), args.positional.end() - 1);
    std::string keys;
    std::string fingerprints;
    std::string log;
    char hex[8];
    for (const std::string& keyFile : keyFiles) {
        const KeyFile key(keyFile, KeyFile::Need::PublicKey);
        const std::string keyFingerprint = fingerprint(key.key());
        if (fingerprints.find(keyFingerprint) != std::string::npos)
            throw ToolError(ExitKey, keyFile + " is named twice (fingerprint " + keyFingerprint + ")");
        keys += "    {";
        const std::vector<unsigned char>& content = key.content();
        // An old key file of 2048 bytes is padded like a new one.
        for (size_t i = 0; i < keyFileSize; ++i) {
            keys += i % 16 == 0 ? "\n        " : " ";
            std::snprintf(hex, sizeof hex, "0x%02x,", i < content.size() ? content[i] : 0);
            keys += hex;
        }
        keys += "\n    },\n";
        fingerprints += "    \"" + keyFingerprint + "\",\n";
        log += "Embedded public key " + keyFile + " (" + std::to_string(key.bits())
            + "-bit RSA), fingerprint " + keyFingerprint + "\n";
    }
    const std::string source = "// Generated by corvane-keytool embed; do not edit.\n"
                               "#include \"crypto/publickey.h\"\n\n"
                               "const unsigned char PUBLIC_KEYS[][keyFileSize] = {\n"
        + keys + "};\n\nconst int publicKeyCount = " + std::to_string(keyFiles.size())
        + ";\n\nconst char* const publicKeyFingerprints[] = {\n" + fingerprints + "};\n";
    writeWhole(args.positional.back(), std::vector<unsigned char>(source.begin(), source.end()));
    // The build log shows which keys the updater trusts.
    std::fputs(log.c_str(), stdout);
    return ExitOk;
}

int run(int argc, char** argv)
{
    if (argc < 2)
        throw ToolError(ExitUsage, "No command given");
    const std::string command = argv[1];
    try {
        crypt_init();
    } catch (const crypt_exception& e) {
        throw ToolError(ExitCrypto, e.what());
    }
    if (command == "create")
        return create(parse(argc, argv, false, true));
    if (command == "sign")
        return sign(parse(argc, argv, true, false));
    if (command == "verify")
        return verify(parse(argc, argv, true, false));
    if (command == "fingerprint")
        return printFingerprint(parse(argc, argv, false, false));
    if (command == "import")
        return import(parse(argc, argv, false, false));
    if (command == "embed")
        return embed(parse(argc, argv, false, false));
    throw ToolError(ExitUsage, "Unknown command: " + command);
}

} // namespace

int main(int argc, char** argv)
{
    return runTool({"corvane-keytool", usage}, argc, argv, [&] { return run(argc, argv); });
}
