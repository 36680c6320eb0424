// Publishes one client release: the mirror tree of a version with its signed
// product ini, as the updater downloads and checks it.
#pragma once

#include <QString>
#include <QStringList>

struct PublishOptions {
    QString releaseDir;
    QString outDir;
    QString clientType = QStringLiteral("client_linux_amd64");
    int version = 0;
    QString keyFile;
    QString section = QStringLiteral("client");
    bool folderSections = false;
    bool gzip = false;
    int level = 6; // zlib's level for --gzip
    int threads = 1; // packing threads
    QString deleteListFile;
    QString previousDir;
    QString changelogFile;
    bool force = false;
    QStringList deltaFrom; // earlier version folders (OUT_DIR/N) to make patches from
};

struct PublishSummary {
    QString versionDir;
    int files = 0;
    int packed = 0;
    int deletions = 0;
    int patches = 0;
    quint64 patchBytes = 0; // the patches kept
    quint64 replacedBytes = 0; // the full downloads they spare
};

/// Writes outDir/<version>/ completely or not at all: the tree is built beside
/// it and renamed into place. Throws ToolError.
PublishSummary publish(const PublishOptions& options);
