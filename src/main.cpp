// Entry point of the updater: brings it up in a fixed order and reports how
// the run ended through the exit code.
#include "app/configuration.h"
#include "app/singleinstancechecker.h"
#include "app/updateengine.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <memory>

int main(int argc, char** argv)
{
    auto app = std::make_unique<QApplication>(argc, argv);

    // Leftovers of a self-update go first, even if another updater runs.
    const QString root = Configuration::getAppRootPath();
    UpdateEngine::removeOldFiles(root);
    UpdateEngine::removeOldFiles(root + QStringLiteral("/imageformats"));
    UpdateEngine::removeOldFiles(root + QStringLiteral("/accessible"));

    if (SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")))
        return 0;

    const QString locale = QLocale::system().name();
    auto ownTranslator = std::make_unique<QTranslator>();
    (void)ownTranslator->load(QStringLiteral(":/i18n/update_") + locale);
    QCoreApplication::installTranslator(ownTranslator.get());
    auto qtTranslator = std::make_unique<QTranslator>();
    (void)qtTranslator->load(QStringLiteral("translations/qt_") + locale);
    QCoreApplication::installTranslator(qtTranslator.get());

    auto configuration = std::make_unique<Configuration>();
    auto window = std::make_unique<MainWindow>(*configuration);

    int exitCode = 1;
    if (configuration->parseCommandLineOptions()) {
        if (configuration->runMode == 1)
            QTimer::singleShot(2000, window.get(), &MainWindow::onAutoStartUpdate);
        window->setUIToConfigSpecs();
        window->show();
        window->setNews();
        exitCode = QApplication::exec();
    }

    window.reset();
    configuration.reset();
    qtTranslator.reset();
    ownTranslator.reset();
    app.reset();
    return exitCode;
}
