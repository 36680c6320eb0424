// The updater's command line: which front-end runs, what it is asked to do,
// and what is refused before anything runs.
#pragma once

#include <QString>
#include <QStringList>

/// What a run is asked to do, read from the whole command line before any
/// application object exists. Options may come in any order and anywhere
/// among the positional arguments; "--" ends them. --console and --check run
/// without a window (on the core toolkit alone), --help and --version only
/// print; everything else is the window, unattended with --nouser.
struct ConsoleOptions {
    enum Command { Help, Version, Update, Check, Window, Unattended };

    Command command = Window;
    bool quiet = false;
    bool startClient = false;
    /// One JSON object per line on standard output instead of text.
    bool json = false;
    /// A version named on the command line may be older than the installed one.
    bool allowDowngrade = false;
    /// Client type, version, display text ("#" for none) and news, as far as given.
    QStringList positional;
    /// The toolkit's own options (-platform offscreen, -style fusion...),
    /// left for the window's application object to read.
    QStringList toolkitArguments;
    /// Why the arguments cannot be used (a usage error); empty when they can.
    QString error;

    /// Reads arguments; position 0 is the program.
    static ConsoleOptions parse(const QStringList& arguments);
    /// True for the commands that run without a window.
    bool runsInConsole() const { return command != Window && command != Unattended; }
    /// The unattended command line that resolves the same version.
    QStringList unattendedArguments(const QString& program) const;
    /// The positional command line the window's configuration reads.
    QStringList windowArguments(const QString& program) const;
    /// The synopsis, for --help and after a usage error.
    static QString usageText();
    /// The text of --help, exit codes included.
    static QString helpText();
};
