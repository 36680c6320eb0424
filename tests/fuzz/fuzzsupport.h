// What the fuzz targets share: a scratch directory, file names no earlier
// input used, one input split into several parts, and checks that stop the
// run where the code under test broke a promise.
#pragma once

#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QList>
#include <QString>

namespace FuzzSupport {

/// Separates the parts of a target whose input is several files or datagrams.
/// The dictionaries list it, so the fuzzer moves whole parts around.
inline const QByteArray partSeparator("\n--next-part--\n");

/// Creates the application object; it is never destroyed, so the toolkit's
/// caches stay reachable and the leak check at exit reports only real leaks.
void startApplication(int* argc, char*** argv);

/// The input as a byte array, without a copy; valid during the call only.
QByteArray bytes(const uint8_t* data, size_t size);
/// The first count - 1 separators cut input into count parts; a missing part
/// is empty, further separators stay inside the last part.
QList<QByteArray> split(const QByteArray& input, int count);

/// A directory private to this process, removed when the process ends.
QString scratchDir();
/// stem followed by a number no earlier call returned.
QString freshName(const QString& stem);
/// A fresh path in the scratch directory ending in name. The toolkit's INI
/// reader caches files by path and trusts size and time stamp, so a reused
/// path could hand back an earlier input.
QString freshPath(const QString& name);
/// Creates a fresh empty directory in the scratch directory.
QString freshDir();
/// Writes data as the whole content of path; the harness stops if it cannot.
void writeFile(const QString& path, const QByteArray& data);
/// Removes path and, for a directory, everything below it.
void remove(const QString& path);

/// Stops the run with a crash the fuzzer keeps as a finding.
[[noreturn]] void fail(const char* what, const QString& detail = QString());
/// fail() unless condition holds.
inline void expect(bool condition, const char* what, const QString& detail = QString())
{
    if (!condition)
        fail(what, detail);
}

} // namespace FuzzSupport
