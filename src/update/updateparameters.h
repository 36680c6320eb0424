// What the stages of one update need to know about it. The engine fills it
// from the run's configuration when the update starts; the stages copy it.
#pragma once

#include <QByteArray>
#include <QString>

#include "release/releasenames.h"

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
    /// The SHA-256 (32 bytes) that the product ini must have, when a release
    /// statement named the version: it binds the version and the client type
    /// to what the publisher signed. Empty for none.
    QByteArray productIniSha256;
    /// Where the product ini is fetched to and read from, when not tempDir:
    /// a check fetches it into a scratch folder and only reads what an
    /// earlier, interrupted run left in tempDir.
    QString productIniDir;

    /// The product ini's path: "<clientType>.ini" in productIniDir, or in tempDir.
    QString productIniPath() const
    {
        return (productIniDir.isEmpty() ? tempDir : productIniDir) + QLatin1Char('/')
            + ReleaseNames::productIniName(clientType);
    }
    /// The patch index's path, beside the product ini. A file there has
    /// passed its signature check: the first stage removes one that did not.
    QString patchIndexPath() const
    {
        return (productIniDir.isEmpty() ? tempDir : productIniDir) + QLatin1Char('/')
            + ReleaseNames::patchIndexName(clientType);
    }
};
