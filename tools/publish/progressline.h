// One redrawn line on standard error that shows how far the packing is:
// files and bytes done and the rate. Silent unless standard error is a
// terminal, so logs and scripts see only the summary.
#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

class ProgressLine final {
public:
    /// what: the work the line names ("Packing").
    ProgressLine(quint64 totalFiles, quint64 totalBytes, const char* what = "Packing");

    /// Redraws the line, at most ten times a second.
    void update(quint64 files, quint64 bytes);
    /// Draws the final state and ends the line.
    void finish(quint64 files, quint64 bytes);

private:
    void draw(quint64 files, quint64 bytes);

    const bool enabled;
    const char* const what;
    const quint64 totalFiles;
    const quint64 totalBytes;
    QElapsedTimer clock;
    qint64 lastDrawMs = -1;
};
