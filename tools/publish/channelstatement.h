// The release statement a publisher writes at the mirror's base URL: which
// version a channel installs, bound to that version's product ini.
#pragma once

#include <QString>

class ReleaseSigner;

struct StatementOptions {
    QString outDir;
    QString clientType = QStringLiteral("client_linux_amd64");
    int version = 0;
    QString channel; // "stable", "beta" or "alpha"
    QString display; // empty: none
    int expiresDays = 30;
    QString newsFile; // empty: no news
};

struct StatementSummary {
    QString path;
    QString expires; // as the statement writes it
};

/// Names version as what channel installs in outDir/<type>.channels, with the
/// SHA-256 of outDir/<version>/<type>.ini, issued now and expiring
/// expiresDays later, and signs the statement (".sig" and ".sig256"). The
/// other channels' entries stay as they are. Throws ToolError.
StatementSummary writeStatement(const StatementOptions& options, const ReleaseSigner& signer);
