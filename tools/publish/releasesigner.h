// Signs the product ini and the release statement with the publisher's
// private key file.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

#include "crypto/tomcryptutil.h"

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

    /// Writes path + ".sig" and path + ".sig256": the RSASSA-PSS signatures
    /// over SHA-1 and SHA-256 that the updater checks, of the product ini and of
    /// the patch index alike (an updater that finds
    /// the second uses it alone). The salt is derived from the key and the
    /// content, so the same file signed with the same key gives the same
    /// signatures. Throws ToolError.
    void signFile(const QString& path) const;

private:
    QByteArray sign(const QString& path, const QByteArray& data, SignatureHash hash) const;

    std::unique_ptr<KeyFile> key;
};
