// Entry point of the updater: brings it up in a fixed order and reports how
// the run ended through the exit code. The console forms of the command line
// run without a window, on the core application alone, so they need neither
// a display nor a platform plugin.
#include "app/configuration.h"
#include "app/exitcodes.h"
#include "app/installationlock.h"
#include "app/singleinstancechecker.h"
#include "app/updateengine.h"
#include "console/consolefrontend.h"
#include "console/consoleoptions.h"
#include "ui/mainwindow.h"
#include "ui/translations.h"

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Says why this run leaves the installation alone: on standard error
// always, in a box unless the run is unattended and nobody would close it.
int refuseInstallation(const QString& text, bool unattended)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(text));
    if (!unattended)
        MainWindow::showError(nullptr, text);
    return ExitCode::otherUpdater;
}

// An unattended run presses Start by itself this long after start-up, once
// the window is up and the event loop runs.
constexpr int unattendedStartDelayMs = 2000;

int runConsole(int argc, char** argv, const ConsoleOptions& options)
{
    QCoreApplication app(argc, argv);
    const Translations translations;
    return ConsoleFrontEnd::run(options);
}

// The toolkit ends the process with an abort when it finds no platform to
// open windows on. A window run says so in one line and exits with the
// usage code instead, whatever made the platform fail; the toolkit's first
// complaint, held back until then, is the most telling reason.
QStringList toolkitComplaints;

void onToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        toolkitComplaints.append(qFormatLogMessage(type, context, text));
        return;
    }
    QString reason =
        (toolkitComplaints.isEmpty() ? text : toolkitComplaints.first()).section(QLatin1Char('\n'), 0, 0);
    reason = reason.trimmed();
    if (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    std::fprintf(stderr, "update: cannot open the window (%s); 'update --console' updates without one\n",
        qUtf8Printable(reason));
    std::fflush(stderr);
    std::_Exit(ExitCode::usage);
}

// Without any of these the toolkit has nowhere to show the window.
bool displayNamed(const ConsoleOptions& options)
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
        || options.toolkitArguments.contains(QStringLiteral("-platform"));
}

std::unique_ptr<QApplication> openWindowApplication(int& argc, char** argv)
{
    const QtMessageHandler previous = qInstallMessageHandler(onToolkitMessage);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    for (const QString& complaint : std::as_const(toolkitComplaints))
        std::fprintf(stderr, "%s\n", qUtf8Printable(complaint));
    toolkitComplaints.clear();
    return app;
}

} // namespace

int main(int argc, char** argv)
{
    // A file that would pass the size limit (ulimit -f) must fail to write,
    // with a message and a rollback, instead of killing the process in the
    // middle of an installation.
    std::signal(SIGXFSZ, SIG_IGN);

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const ConsoleOptions options = ConsoleOptions::parse(arguments);
    if (!options.error.isEmpty() || options.runsInConsole())
        return runConsole(argc, argv, options);
    if (!displayNamed(options)) {
        std::fprintf(stderr,
            "update: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set); "
            "'update --console' updates without a window\n");
        return ExitCode::usage;
    }

    auto app = openWindowApplication(argc, argv);
    const QString root = Configuration::getAppRootPath();
    const bool unattended = options.command == ConsoleOptions::Unattended;

    // Held until the end: two updaters changing one installation at once,
    // whoever started them, would tear it apart.
    InstallationLock lock;
    const InstallationLock::Outcome locked = lock.acquire(root);
    if (locked == InstallationLock::HeldElsewhere) {
        // Our own updater comes to the front; anyone else's is only named.
        // Either way nothing here changes, leftovers included.
        if (SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")))
            return ExitCode::success;
        const Translations translations;
        return refuseInstallation(InstallationLock::busyMessage(root), unattended);
    }
    // Without the lock nothing would keep a second updater from changing
    // the installation with us.
    if (locked == InstallationLock::Unavailable) {
        const Translations translations;
        return refuseInstallation(lock.unavailableMessage(), unattended);
    }

    // Leftovers of a self-update go first.
    UpdateEngine::removeSelfUpdateLeftovers();

    if (SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")))
        return ExitCode::success;

    auto translations = std::make_unique<Translations>();
    auto configuration = std::make_unique<Configuration>();
    auto window = std::make_unique<MainWindow>(*configuration);

    int exitCode = ExitCode::configuration;
    if (configuration->parseCommandLineOptions(options.windowArguments(arguments.value(0)))) {
        if (configuration->runMode() == Configuration::RunMode::Unattended)
            QTimer::singleShot(unattendedStartDelayMs, window.get(), &MainWindow::onAutoStartUpdate);
        window->setUIToConfigSpecs();
        window->show();
        window->setNews();
        exitCode = QApplication::exec();
    } else if (configuration->versionRefused()) {
        exitCode = ExitCode::refused;
    }

    window.reset();
    configuration.reset();
    translations.reset();
    app.reset();
    return exitCode;
}
