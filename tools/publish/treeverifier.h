// Checks a published version folder the way an updater will use it: the
// signature, every listed file, every packed file's content and the delete
// list.
#pragma once

#include <QString>
#include <QStringList>

struct VerifyOptions {
    QString versionDir; // OUT_DIR/VERSION
    QString keyFile; // the public key (a private key file serves too)
    QString clientType = QStringLiteral("client_linux_amd64");
};

struct VerifyReport {
    QStringList problems; // one line each, naming the file or entry
    int files = 0;
    int packed = 0;
    int deletions = 0;
    int patches = 0; // entries of the patch index, each applied and checked
};

/// Throws ToolError only when the check cannot run (no such folder, no usable
/// key); everything wrong with the tree is a problem in the report.
VerifyReport verifyTree(const VerifyOptions& options);
