// The updater's top-level window. For now a plain view of the resolved
// configuration that already keeps the start-up contract of the entry point:
// fatal configuration errors end the run, and later starts bring it to the front.
#pragma once

#include <QWidget>

class Configuration;
class QLabel;

class MainWindow final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY(MainWindow)

public:
    // The configuration is not owned and must outlive the window.
    explicit MainWindow(Configuration& configuration);

    void setUIToConfigSpecs();
    void setNews();

public Q_SLOTS:
    void onFatalConfigError(QString errorMessage);
    void onAutoStartUpdate();
    void onOtherInstanceActivate(QString message);

private:
    Configuration* configuration;
    QLabel* versionLabel;
    QLabel* detailsLabel;
    QLabel* newsLabel;
};
