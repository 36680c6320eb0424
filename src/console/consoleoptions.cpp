// The console forms of the command line.
#include "consoleoptions.h"

namespace {

const QString consoleOption = QStringLiteral("--console");
const QString checkOption = QStringLiteral("--check");
const QString helpOption = QStringLiteral("--help");
const QString versionOption = QStringLiteral("--version");

} // namespace

bool ConsoleOptions::isConsoleCommand(const QString& firstArgument)
{
    return firstArgument == consoleOption || firstArgument == checkOption || firstArgument == helpOption
        || firstArgument == versionOption;
}

ConsoleOptions ConsoleOptions::parse(const QStringList& arguments)
{
    ConsoleOptions options;
    const QString first = arguments.value(1);
    if (first == consoleOption)
        options.command = Update;
    else if (first == checkOption)
        options.command = Check;
    else if (first == versionOption)
        options.command = Version;

    bool optionsEnded = false;
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1String("--"))) {
            options.positional.append(argument);
        } else if (argument == QLatin1String("--")) {
            // What follows is positional, even a news text that starts with "--".
            optionsEnded = true;
        } else if (argument == helpOption) {
            options.command = Help;
        } else if (argument == QLatin1String("--quiet")) {
            options.quiet = true;
        } else if (argument == QLatin1String("--start-client") && options.command == Update) {
            options.startClient = true;
        } else if (options.error.isEmpty()) {
            options.error = QStringLiteral("unknown option %1").arg(argument);
        }
    }
    if (!options.error.isEmpty() || options.command == Help || options.command == Version)
        return options;

    const qsizetype count = options.positional.size();
    // A type alone would be dropped silently by the unattended form; a script
    // that passes one means something by it.
    if (count == 1)
        options.error = QStringLiteral("a client type needs a version");
    else if (options.command == Check && count > 2)
        options.error = QStringLiteral("--check takes a client type and a version, nothing more");
    else if (count > 4)
        options.error = QStringLiteral("too many arguments");
    return options;
}

QStringList ConsoleOptions::unattendedArguments(const QString& program) const
{
    return QStringList {program, QStringLiteral("--nouser")} + positional;
}

QString ConsoleOptions::helpText()
{
    return QStringLiteral(R"(Usage:
  update [<type> <version>]
  update --nouser [<type> <version> [<display text or "#"> [<news>]]]
  update --console [--quiet] [--start-client] [<type> <version> [<display text or "#"> [<news>]]]
  update --check [--quiet] [<type> <version>]
  update --help | --version

Updates the Corvane Client in this program's directory. Without options the
update runs in a window; --nouser runs it in the window without a click and
starts the client afterwards.

  --console       Run the update without a window, display or platform
                  plugin: a progress line on a terminal, plain log lines
                  otherwise, one summary line on standard output at the end.
  --check         Report what an update would download, install and delete,
                  changing nothing.
  --quiet         Print errors only.
  --start-client  Start the client after a successful update (--console only).
  --version       Print the updater's version and the fingerprint of the key
                  it checks releases against.

Without a version, the version comes from update.ini (alpha channel) or from
the update server, which is asked up to 3 times.

SIGINT (Ctrl+C), SIGTERM and SIGHUP cancel the update; a cut-short
installation is rolled back before the program exits. Once every file is
installed, only obsolete files remain to be deleted: a signal then lets the
update finish.

Exit codes:
  0    updated, or already up to date; --check: nothing to do
  100  --check: an update is available
  1    the configuration cannot be resolved: a wrong command line, an invalid
       version, no version for the channel, or no answer from the update
       server after 3 tries
  2    the update failed; the client directory is as it was before
  3    another updater is updating this installation, or its lock
       (update.lock) cannot be taken; nothing was changed
  130  cancelled by SIGINT (143: SIGTERM, 129: SIGHUP), after the rollback
)");
}
