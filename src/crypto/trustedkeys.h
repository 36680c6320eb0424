// The keys this build trusts: a signature by any of them verifies.
#pragma once

#include <QStringList>

#include "crypto/tomcryptutil.h"

class QByteArray;

namespace TrustedKeys {

/// The fingerprint of each trusted key ("SHA256:..."), in the order the build
/// names them.
QStringList fingerprints();

/// True when sig is a valid signature of data over hash by one of the trusted
/// keys. A malformed signature (a wrong length included) is simply not valid.
/// Needs crypt_init(); any thread.
bool verify(const QByteArray& data, const QByteArray& sig, SignatureHash hash);

} // namespace TrustedKeys
