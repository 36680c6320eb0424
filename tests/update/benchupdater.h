// The updater side of the update benchmark: one whole update through the
// main task, run in a child process so that its memory and a kill in the
// middle of it are its own.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace BenchUpdater {

struct Setup {
    QString clientDir;
    QString tempDir;
    QString mirrorsIni;
    int version = 0;
    // A PEM certificate the updater trusts for this run, beside the
    // system's: that of a test mirror over HTTPS. Empty for none.
    QString caFile;
};

struct Result {
    bool ok = false; // the update finished
    bool killed = false; // ended by runAndKill on purpose
    double seconds = 0; // from the start of the main task to its end
    double downloadSeconds = 0; // the download stage alone
    double peakMiB = 0; // peak resident memory of the whole updater process
    double peakAnonMiB = 0; // peak anonymous memory (RssAnon, sampled): mapped files left out
    QString stages; // time per stage, and the peak memory by its end
    QStringList failures; // the first warnings and failure lines
};

// In the child (program --update ...): runs the update, prints the result.
int childMain(const QStringList& arguments);

// Runs one update in a child process of program.
Result run(const QString& program, const Setup& setup);
// The same, but kills the child with SIGKILL once watchedFile holds at least
// killAtBytes bytes.
Result runAndKill(const QString& program, const Setup& setup, const QString& watchedFile, qint64 killAtBytes);

} // namespace BenchUpdater
