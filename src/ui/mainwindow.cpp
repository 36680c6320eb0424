// The updater's top-level window (configuration view).
#include "mainwindow.h"

#include "core/configuration.h"
#include "core/singleinstancechecker.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

MainWindow::MainWindow(Configuration& configuration)
    : configuration(&configuration)
    , versionLabel(new QLabel(this))
    , detailsLabel(new QLabel(this))
    , newsLabel(new QLabel(this))
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Corvane Client Update"));
    setWindowIcon(QIcon(QStringLiteral(":/images/application.ico")));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(versionLabel);
    layout->addWidget(detailsLabel);
    layout->addWidget(newsLabel);
    detailsLabel->setTextFormat(Qt::PlainText);
    newsLabel->setWordWrap(true);

    // The engine reads these when it is built; read them here the same way
    // so that the view shows what an update would use.
    configuration.getProxyAndDownloadConcurrency();

    auto* singleInstance = new SingleInstanceChecker(this);
    connect(singleInstance, &SingleInstanceChecker::otherInstanceActivate, this,
        &MainWindow::onOtherInstanceActivate);
    connect(&configuration, &Configuration::fatalError, this, &MainWindow::onFatalConfigError);
}

void MainWindow::setUIToConfigSpecs()
{
    QString channelName;
    switch (configuration->channel) {
    case Stable:
        channelName = tr("Stable");
        break;
    case Beta:
        channelName = tr("Beta");
        break;
    case Alpha:
        channelName = tr("Alpha");
        break;
    }
    QString text;
    if (!configuration->versionString.isEmpty())
        text = QStringLiteral("<div style=\"font-weight:bold;font-size:14px\">")
            + tr("Update to Corvane %1.").arg(configuration->versionString) + QStringLiteral("</div>");
    text += QStringLiteral("<div style=\"margin-top:8px\">")
        + tr("You are currently on <strong>%1 channel</strong>.").arg(channelName) + QStringLiteral("</div>");
    versionLabel->setText(text);

    detailsLabel->setText(
        QStringLiteral("Client type: %1\nVersion: %2\nDownloads at once: %3\nProxy: %4\nMode: %5")
            .arg(configuration->clientType)
            .arg(configuration->clientVersion)
            .arg(configuration->downloadConcurrency)
            .arg(configuration->proxy.isEmpty() ? QStringLiteral("none") : configuration->proxy,
                configuration->runMode == 1 ? QStringLiteral("unattended") : QStringLiteral("interactive")));
}

void MainWindow::setNews()
{
    newsLabel->setText(configuration->news);
}

void MainWindow::onFatalConfigError(QString errorMessage)
{
    QMessageBox::critical(nullptr, QObject::tr("Error"), errorMessage, QMessageBox::Ok);
    QApplication::exit(1);
}

void MainWindow::onAutoStartUpdate()
{
    // Nothing to start yet: the engine arrives with the full window.
}

void MainWindow::onOtherInstanceActivate(QString message)
{
    if (message != QLatin1String("#"))
        return;
    raise();
    activateWindow();
}
