// The public keys every signature is checked against, in the key-file format,
// and their fingerprints. Their definitions are generated at build time from
// the publisher's keys, or from the build's development key when no publisher
// key is configured.
#pragma once

#include "crypto/tomcryptutil.h"

/// Upper case, unlike our other constants: the name is an established one,
/// and `corvane-keytool embed` writes the definition under it. A signature by
/// any of the publicKeyCount keys verifies; several of them let a publisher
/// move to a new key while the updaters in the field still know the old one.
extern const unsigned char PUBLIC_KEYS[][keyFileSize];
extern const int publicKeyCount;
/// What key_fingerprint gives for each of PUBLIC_KEYS, in the same order, and
/// 'corvane-keytool fingerprint' prints for its key file ("SHA256:..."), for
/// showing to the publisher.
extern const char* const publicKeyFingerprints[];
