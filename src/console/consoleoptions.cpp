// The updater's command line.
#include "consoleoptions.h"

#include <iterator>

namespace {

using Command = ConsoleOptions::Command;

constexpr unsigned bit(Command command)
{
    return 1u << unsigned(command);
}

constexpr unsigned consoleRuns = bit(ConsoleOptions::Update) | bit(ConsoleOptions::Check);

// One option of the command line. A command option chooses what the run
// does; any other sets its flag and may be given only with the commands in
// allowedWith. A new option is one more row (and, for a flag, one more
// member of ConsoleOptions).
struct OptionRule {
    const char* name;
    const char* shortName; // empty: none
    bool isCommand;
    Command command;
    bool ConsoleOptions::*flag;
    unsigned allowedWith;
};

const OptionRule optionRules[] = {
    {"--console", "", true, ConsoleOptions::Update, nullptr, 0},
    {"--check", "", true, ConsoleOptions::Check, nullptr, 0},
    {"--nouser", "", true, ConsoleOptions::Unattended, nullptr, 0},
    {"--help", "-h", true, ConsoleOptions::Help, nullptr, 0},
    {"--version", "-V", true, ConsoleOptions::Version, nullptr, 0},
    {"--quiet", "-q", false, ConsoleOptions::Update, &ConsoleOptions::quiet, consoleRuns},
    {"--json", "", false, ConsoleOptions::Update, &ConsoleOptions::json, consoleRuns},
    {"--start-client", "", false, ConsoleOptions::Update, &ConsoleOptions::startClient,
        bit(ConsoleOptions::Update)},
    {"--allow-downgrade", "", false, ConsoleOptions::Update, &ConsoleOptions::allowDowngrade, consoleRuns},
};

// The toolkit's options that take a value, and those that do not: the
// window's application object reads them, so they are no error there.
const char* const toolkitOptionsWithValue[] = {"-platform", "-platformpluginpath", "-platformtheme",
    "-plugin", "-style", "-stylesheet", "-display", "-geometry", "-qwindowgeometry", "-qwindowtitle",
    "-qwindowicon", "-session"};
const char* const toolkitFlags[] = {"-reverse", "-nograb", "-dograb", "-sync", "-widgetcount"};

const OptionRule* findRule(const QString& argument)
{
    for (const OptionRule& rule : optionRules) {
        if (argument == QLatin1String(rule.name)
            || (*rule.shortName && argument == QLatin1String(rule.shortName)))
            return &rule;
    }
    return nullptr;
}

bool isOneOf(const QString& argument, const char* const* first, const char* const* last)
{
    for (; first != last; ++first) {
        if (argument == QLatin1String(*first))
            return true;
    }
    return false;
}

// "--console or --check": the command options a flag may be given with.
QString commandNames(unsigned commands)
{
    QStringList names;
    for (const OptionRule& rule : optionRules) {
        if (rule.isCommand && (commands & bit(rule.command)))
            names.append(QLatin1String(rule.name));
    }
    return names.join(QStringLiteral(" or "));
}

// What the command options given say the run is, or an error.
Command resolveCommand(unsigned given, QString* error)
{
    if (given & bit(ConsoleOptions::Help))
        return ConsoleOptions::Help;
    if (given & bit(ConsoleOptions::Version))
        return ConsoleOptions::Version;
    if ((given & bit(ConsoleOptions::Unattended)) && (given & consoleRuns)) {
        *error = QStringLiteral("--nouser runs the window; --console and --check run without one");
        return ConsoleOptions::Unattended;
    }
    // --console --check is a check without a window, as --check alone is.
    if (given & bit(ConsoleOptions::Check))
        return ConsoleOptions::Check;
    if (given & bit(ConsoleOptions::Update))
        return ConsoleOptions::Update;
    if (given & bit(ConsoleOptions::Unattended))
        return ConsoleOptions::Unattended;
    return ConsoleOptions::Window;
}

QString positionalError(const ConsoleOptions& options)
{
    const qsizetype count = options.positional.size();
    // A type alone would be dropped silently by the unattended form; a script
    // that passes one means something by it.
    if (count == 1)
        return QStringLiteral("a client type needs a version");
    if (options.command == ConsoleOptions::Check && count > 2)
        return QStringLiteral("--check takes a client type and a version, nothing more");
    if (count > 4)
        return QStringLiteral("too many arguments");
    return {};
}

} // namespace

ConsoleOptions ConsoleOptions::parse(const QStringList& arguments)
{
    ConsoleOptions options;
    unsigned commandsGiven = 0;
    QList<const OptionRule*> flagsGiven;
    QString unknown;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            options.positional.append(argument);
        } else if (argument == QLatin1String("--")) {
            // What follows is positional, even a news text that starts with "--".
            optionsEnded = true;
        } else if (const OptionRule* rule = findRule(argument)) {
            if (rule->isCommand)
                commandsGiven |= bit(rule->command);
            else
                flagsGiven.append(rule);
        } else if (isOneOf(argument, std::begin(toolkitOptionsWithValue), std::end(toolkitOptionsWithValue))
            && i + 1 < arguments.size()) {
            options.toolkitArguments << argument << arguments.at(++i);
        } else if (isOneOf(argument, std::begin(toolkitFlags), std::end(toolkitFlags))) {
            options.toolkitArguments << argument;
        } else if (unknown.isEmpty()) {
            unknown = argument;
        }
    }
    QString combination;
    options.command = resolveCommand(commandsGiven, &combination);
    if (!unknown.isEmpty()) {
        options.error = QStringLiteral("unknown option %1").arg(unknown);
        return options;
    }
    if (options.command == Help || options.command == Version)
        return options;
    if (!combination.isEmpty()) {
        options.error = combination;
        return options;
    }
    for (const OptionRule* rule : std::as_const(flagsGiven)) {
        if (!(rule->allowedWith & bit(options.command))) {
            options.error = QStringLiteral("%1 goes with %2 only")
                                .arg(QLatin1String(rule->name), commandNames(rule->allowedWith));
            return options;
        }
        options.*(rule->flag) = true;
    }
    if (options.runsInConsole()) {
        // Without a window nothing reads them.
        if (!options.toolkitArguments.isEmpty())
            options.error = QStringLiteral("unknown option %1").arg(options.toolkitArguments.first());
        else
            options.error = positionalError(options);
    }
    return options;
}

QStringList ConsoleOptions::unattendedArguments(const QString& program) const
{
    return QStringList {program, QStringLiteral("--nouser")} + positional;
}

QStringList ConsoleOptions::windowArguments(const QString& program) const
{
    return command == Unattended ? unattendedArguments(program) : QStringList {program} + positional;
}

QString ConsoleOptions::usageText()
{
    return QStringLiteral(R"(Usage:
  update [<type> <version>]
  update --nouser [<type> <version> [<display text or "#"> [<news>]]]
  update --console [-q] [--json] [--start-client] [--allow-downgrade]
                   [<type> <version> [<display text or "#"> [<news>]]]
  update --check [-q] [--json] [--allow-downgrade] [<type> <version>]
  update -h | --help | -V | --version
)");
}

QString ConsoleOptions::helpText()
{
    return usageText() + QStringLiteral(R"(
Updates the Corvane Client in this program's directory. Without options the
update runs in a window; --nouser runs it in the window without a click and
starts the client afterwards. Options may come in any order; "--" ends them,
for a display text or news that starts with "-".

  --console       Run the update without a window, display or platform
                  plugin: a progress line on a terminal, plain log lines
                  otherwise, one summary line on standard output at the end.
  --check         Report what an update would download, install and delete,
                  changing nothing. Runs without a window, with or without
                  --console.
  -q, --quiet     Print errors only (--console, --check).
  --json          Write one JSON object per line on standard output: log
                  lines, progress and a final result (--console, --check).
  --start-client  Start the client after a successful update (--console only).
  --allow-downgrade
                  Install (or check) the version named on the command line
                  even when it is older than the installed one (--console,
                  --check). A version from the network is never installed
                  over a newer one.
  -h, --help      Print this help.
  -V, --version   Print the updater's version and the fingerprint of each key
                  it checks releases against.

Without a version, the version comes from update.ini (alpha channel), from
the signed release statement on the mirrors, or from the update server, which
is asked up to 3 times. Downloads go through the proxy of update.ini, or else
through http_proxy, https_proxy and no_proxy (also in capitals); TMPDIR
chooses where the downloads wait.

SIGINT (Ctrl+C), SIGTERM and SIGHUP cancel the update; a cut-short
installation is rolled back before the program exits. Once every file is
installed, only obsolete files remain to be deleted: a signal then lets the
update finish.

Exit codes:
  0    updated, or already up to date; --check: nothing to do
  100  --check: an update is available
  1    the configuration cannot be resolved: an invalid version, no version
       for the channel, or no answer from the update server after 3 tries
  2    the update failed and the client directory is as it was before; or
       the command line cannot be used (the usage goes to standard error),
       or the window has no display to open on
  3    another updater is updating this installation, or its lock
       (update.lock) cannot be taken; nothing was changed
  4    refused: the version would take the client back to an older one
       (from the network, or named without --allow-downgrade), or its
       release statement has expired or is older than one already
       followed; nothing was changed
  130  cancelled by SIGINT (143: SIGTERM, 129: SIGHUP), after the rollback
)");
}
