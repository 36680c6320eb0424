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

#include <QApplication>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

// Our own catalogue and Qt's for the system's language, installed while this
// object lives.
class Translations final {
public:
    Translations()
    {
        const QString locale = QLocale::system().name();
        (void)own.load(QStringLiteral(":/i18n/update_") + locale);
        QCoreApplication::installTranslator(&own);
        (void)qt.load(QStringLiteral("translations/qt_") + locale);
        QCoreApplication::installTranslator(&qt);
    }
    Q_DISABLE_COPY(Translations)

private:
    QTranslator own;
    QTranslator qt;
};

// Says why this run leaves the installation alone: on standard error
// always, in a box unless the run is unattended and nobody would close it.
int refuseInstallation(const QString& text)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(text));
    if (QCoreApplication::arguments().value(1) != QLatin1String("--nouser"))
        MainWindow::showError(nullptr, text);
    return ExitCode::otherUpdater;
}

// An unattended run presses Start by itself this long after start-up, once
// the window is up and the event loop runs.
constexpr int unattendedStartDelayMs = 2000;

int runConsole(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Translations translations;
    return ConsoleFrontEnd::run(QCoreApplication::arguments());
}

} // namespace

int main(int argc, char** argv)
{
    // A file that would pass the size limit (ulimit -f) must fail to write,
    // with a message and a rollback, instead of killing the process in the
    // middle of an installation.
    std::signal(SIGXFSZ, SIG_IGN);

    if (argc > 1 && ConsoleOptions::isConsoleCommand(QString::fromLocal8Bit(argv[1])))
        return runConsole(argc, argv);

    auto app = std::make_unique<QApplication>(argc, argv);
    const QString root = Configuration::getAppRootPath();

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
        return refuseInstallation(InstallationLock::busyMessage(root));
    }
    // Without the lock nothing would keep a second updater from changing
    // the installation with us.
    if (locked == InstallationLock::Unavailable) {
        const Translations translations;
        return refuseInstallation(lock.unavailableMessage());
    }

    // Leftovers of a self-update go first.
    UpdateEngine::removeSelfUpdateLeftovers();

    if (SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")))
        return ExitCode::success;

    auto translations = std::make_unique<Translations>();
    auto configuration = std::make_unique<Configuration>();
    auto window = std::make_unique<MainWindow>(*configuration);

    int exitCode = ExitCode::configuration;
    if (configuration->parseCommandLineOptions()) {
        if (configuration->runMode() == Configuration::RunMode::Unattended)
            QTimer::singleShot(unattendedStartDelayMs, window.get(), &MainWindow::onAutoStartUpdate);
        window->setUIToConfigSpecs();
        window->show();
        window->setNews();
        exitCode = QApplication::exec();
    }

    window.reset();
    configuration.reset();
    translations.reset();
    app.reset();
    return exitCode;
}
