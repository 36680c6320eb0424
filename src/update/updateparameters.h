// What the stages of one update need to know about it. The engine fills it
// from the run's configuration when the update starts; the stages copy it.
#pragma once

#include <QString>

struct UpdateParameters {
    /// The client directory that the update changes.
    QString clientDir;
    /// Where the product ini and the downloads wait until they are installed.
    QString tempDir;
    /// The client type; names the product ini ("<clientType>.ini").
    QString clientType;
    /// The version being installed.
    int clientVersion = 0;
    /// Files downloaded at once.
    int downloadConcurrency = 6;
};
