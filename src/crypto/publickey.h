// The public key every signature is checked against, in the key-file format,
// and its fingerprint. Their definitions are generated at build time from the
// publisher's key, or from the build's development key when no publisher key
// is configured.
#pragma once

#include "crypto/tomcryptutil.h"

/// Upper case, unlike our other constants: the name is an established one,
/// and `corvane-keytool embed` writes the definition under it.
extern const unsigned char PUBLIC_KEY[keyFileSize];
/// What key_fingerprint gives for PUBLIC_KEY and 'corvane-keytool fingerprint'
/// prints for its key file ("SHA256:..."), for showing to the publisher.
extern const char publicKeyFingerprint[];
