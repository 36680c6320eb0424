// Signs the product ini with the publisher's private key file.
#pragma once

#include <QString>

#include <memory>

class KeyFile;

class ReleaseSigner final {
public:
    /// Loads the private key file (the key tool's format). Throws ToolError
    /// when it is missing, unreadable, malformed or public; warns when group
    /// or others can read it.
    explicit ReleaseSigner(const QString& keyFile);
    ~ReleaseSigner();
    ReleaseSigner(const ReleaseSigner&) = delete;
    ReleaseSigner& operator=(const ReleaseSigner&) = delete;

    /// Writes path + ".sig": the RSASSA-PSS/SHA-1 signature the updater checks
    /// (of the product ini and of the patch index alike).
    /// The salt is derived from the key and the content, so the same file
    /// signed with the same key gives the same signature. Throws ToolError.
    void signFile(const QString& path) const;

private:
    std::unique_ptr<KeyFile> key;
};
