// The exit status of corvane-publish tells scripts what kind of input was
// wrong; a ToolError carries one of these.
#pragma once

#include "common/toolmain.h"

enum PublishExit {
    PublishOk = 0,
    PublishProblems = 1, // --verify found problems in the tree
    PublishUsage = usageExit, // bad command line, version or client type
    PublishInput = 3, // release folder, previous folder, list or change log missing or unreadable
    PublishKey = 4, // private key missing, unreadable, malformed or public
    PublishOutput = 5, // output cannot be written, or the version exists already
    PublishContent = 6, // the release cannot be published as it is (names, conflicts, nothing to publish)
    PublishCrypto = 7, // signing failed
};
