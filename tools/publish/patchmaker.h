// The binary patches of a new version from earlier published ones: planned
// from what each version installs, made on several threads and kept where
// they clearly pay.
#pragma once

#include "earlierrelease.h"
#include "release/deltapatch.h"
#include "release/patchindex.h"

#include <QList>
#include <QString>

/// One file of the new version as a client installs it.
struct PatchTarget {
    QString installedPath;
    QString source; // the release file, whose content is installed
    QString md5; // of that content, lower-case hexadecimal
    quint64 size = 0;
    quint64 downloadSize = 0; // what a client fetches without a patch
};

struct PatchSummary {
    int patches = 0; // patch files kept
    quint64 patchBytes = 0; // their size
    quint64 replacedBytes = 0; // the downloads they stand for
};

/// A patch is kept when it is at most this share of the download it spares.
constexpr double keptPatchShare = 0.75;

/// Writes below versionFolder, at "patches/<N>/<installed path>", the patch
/// from what earlier version N installed to each target whose content differs
/// from it, on threads threads, and returns the index of the patches kept;
/// an earlier content that several versions share is patched from once. The
/// same input gives the same bytes for any number of threads. Packed earlier
/// files are unpacked into scratchDir for a moment. Throws ToolError:
/// PublishInput when an earlier file is missing or not what its product ini
/// lists, PublishOutput when a patch cannot be written.
PatchIndex makePatches(const QList<PatchTarget>& targets, const QList<EarlierRelease>& earlier,
    const QString& versionFolder, const QString& scratchDir, int threads, PatchSummary& summary,
    const DeltaPatch::MakeOptions& options = {});
