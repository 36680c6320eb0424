// Signatures the updater accepts: made with this build's development private
// key, or with any key file for the key utilities' own tests.
#pragma once

#include <QByteArray>
#include <QString>

#include "crypto/tomcryptutil.h"

namespace TestSigning {

// The private half of the key the build embeds, or empty when the build
// embeds a publisher's key (tests that need it skip then).
QString devPrivateKeyPath();
// The RSASSA-PSS signature of data over hash with the key in keyFile; empty on failure.
QByteArray sign(const QByteArray& data, const QString& keyFile, SignatureHash hash = SignatureHash::Sha1);
// Writes path + ".sig" (or ".sig256" for SHA-256) signed with the development
// private key; false when there is no such key or a file cannot be read or written.
bool signFile(const QString& path, SignatureHash hash = SignatureHash::Sha1);

} // namespace TestSigning
