// The failure that ends corvane-publish: a message for the publisher and the
// exit status that tells scripts what kind of input was wrong.
#pragma once

#include <QString>

enum PublishExit {
    PublishOk = 0,
    PublishUsage = 2, // bad command line, version or client type
    PublishInput = 3, // release folder, previous folder, list or change log missing or unreadable
    PublishKey = 4, // private key missing, unreadable, malformed or public
    PublishOutput = 5, // output cannot be written, or the version exists already
    PublishContent = 6, // the release cannot be published as it is (names, conflicts, nothing to publish)
    PublishCrypto = 7, // signing failed
};

struct PublishError {
    PublishExit code;
    QString text;
};
