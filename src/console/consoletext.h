// The texts of the console front-end: the progress line, the summaries and
// the figures in them, as plain functions of what they show.
#pragma once

#include <QString>

struct WorkListSummary;

namespace ConsoleText {

/// What the progress line shows. Sizes in bytes, speed in bytes per second.
struct Progress {
    QString stage;
    double fraction = 0.0; // of the whole run, 0..1
    bool transfer = false; // the byte figures are valid
    quint64 done = 0;
    quint64 total = 0;
    quint64 speed = 0;
};

/// "999 B", "1.5 kB", "48.2 MB": units of 1000, as the window counts.
QString bytes(quint64 count);
/// "0:07", "12:05", "1:02:03".
QString duration(quint64 seconds);
/// "Downloading  37%  17.8 MB / 48.2 MB  5.2 MB/s  0:06 left", cut to fit
/// width columns: the least useful figures go first, so the line never wraps
/// (a wrapped line cannot be redrawn in place).
QString progressLine(const Progress& progress, int width);
/// A log line fit for a terminal or a log file: control characters (a
/// newline from a server's reply, an escape sequence) become blanks.
QString plain(const QString& line);
/// "3 files to download (1.2 MB, 1234567 bytes), 3 to install, 1 to delete":
/// the exact byte count is for scripts.
QString plannedWork(const WorkListSummary& work);
/// "Updated to 2.0: 12 files installed, 3 deleted, 48.2 MB downloaded in 6.1 s".
QString updateSummary(const QString& version, const WorkListSummary& work, double seconds);
/// What a check found.
QString checkSummary(const QString& version, const WorkListSummary& work);

} // namespace ConsoleText
