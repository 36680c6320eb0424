// Binary patches between two versions of a file: made by the publisher,
// applied by the updater and checked by the publisher's --verify.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

/// A patch is one or more zstd frames compressed with the earlier version as
/// their prefix ("patch from" mode: long-distance matching, a window that
/// reaches back over the earlier version). A file whose earlier version fits
/// half the largest window has one frame with the whole earlier version as
/// prefix, exactly what `zstd --patch-from=OLD --long=N` makes and applies.
/// A larger file is cut into segments, each a frame with the matching stretch
/// of the earlier version as prefix, announced by a skippable frame that
/// names that stretch: content shifted by less than a quarter of the window
/// still matches. Both files are read through memory maps.
namespace DeltaPatch {

/// The largest window the library allows on 64-bit systems: 2 GiB.
constexpr int maxWindowLog = 31;

struct MakeOptions {
    /// zstd's compression level.
    int level = 3;
    /// The largest window log used; below maxWindowLog only to try the
    /// segmented form on small files.
    int windowLogLimit = maxWindowLog;
};

/// Writes to patchPath the patch that turns the file at basePath into the
/// one at targetPath, and gives its lower-case hexadecimal MD5 and size.
/// False, with error set and nothing left at patchPath, on failure.
bool make(const QString& basePath, const QString& targetPath, const QString& patchPath,
    const MakeOptions& options, QByteArray* md5Hex, quint64* patchSize, QString* error);

/// Asked now and then while a patch is applied with the bytes written so
/// far; false stops the work.
using KeepGoing = std::function<bool(quint64 done)>;

/// Applies the patch at patchPath to the file at basePath, writing exactly
/// outputSize bytes to outputPath, and gives the lower-case hexadecimal MD5
/// of what it wrote. The output is written through a shared mapping and the
/// patch is read through one, so the heap holds only the decoder's state
/// whatever the sizes. False, with error set and nothing left at outputPath,
/// when the patch is damaged, does not fit the base, gives another number of
/// bytes, or keepGoing said stop. Any thread.
bool apply(const QString& basePath, const QString& patchPath, const QString& outputPath, quint64 outputSize,
    QByteArray* md5Hex, QString* error, const KeepGoing& keepGoing = {});

} // namespace DeltaPatch
