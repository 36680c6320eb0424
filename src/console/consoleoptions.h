// The console forms of the updater's command line.
#pragma once

#include <QString>
#include <QStringList>

/// What a console run is asked to do. Only a first argument of --console,
/// --check, --help or --version selects the console; every other command
/// line belongs to the window.
struct ConsoleOptions {
    enum Command { Help, Version, Update, Check };

    Command command = Help;
    bool quiet = false;
    bool startClient = false;
    /// A version named on the command line may be older than the installed one.
    bool allowDowngrade = false;
    /// Client type, version, display text ("#" for none) and news, as far as given.
    QStringList positional;
    /// Why the arguments cannot be used; empty when they can.
    QString error;

    /// True when firstArgument selects the console.
    static bool isConsoleCommand(const QString& firstArgument);
    /// Reads arguments (position 0 is the program), which must select the console.
    static ConsoleOptions parse(const QStringList& arguments);
    /// The unattended command line that resolves the same version.
    QStringList unattendedArguments(const QString& program) const;
    /// The text of --help, exit codes included.
    static QString helpText();
};
