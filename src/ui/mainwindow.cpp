// The updater's only top-level window.
#include "mainwindow.h"

#include <algorithm>
#include <cstdio>

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPixmap>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include "app/configuration.h"
#include "app/exitcodes.h"
#include "app/processtools.h"
#include "app/singleinstancechecker.h"
#include "app/updatechecker.h"
#include "app/updateengine.h"
#include "ui/changelogviewer.h"
#include "ui/urlclicklabel.h"

namespace {

const char* const makerHomePage = "https://www.corvane.example/";
constexpr int unattendedClientStartMs = 1000;
// The widest figures the size and speed labels make room for: transfers
// below 10 GB at below 10 GB/s never change the window's width.
constexpr quint64 widestSizeKb = 9999999;
constexpr quint64 widestSpeedKbPerS = 9999999;
// The details log keeps this many of its latest lines, and drops the oldest
// ones this many at a time: a release of 100,000 files writes some 300,000
// lines, which the window would otherwise hold to the end (about 100 MB).
// Standard error keeps the whole log.
constexpr int logLinesKept = 10000;
constexpr int logLinesDroppedAtOnce = 5000;

QString sizeText(quint64 kilobytes)
{
    return MainWindow::tr("%1 KB").arg(kilobytes);
}

QString speedText(quint64 kilobytesPerSecond)
{
    return MainWindow::tr("%1 KB/s").arg(kilobytesPerSecond);
}

// Makes the label or button as wide as the widest of texts would make it.
// The window takes the size of its contents, so a widget that followed its
// current text would move the buttons under the user's mouse.
template<typename Widget>
void reserveWidthFor(Widget* widget, const QStringList& texts)
{
    const QString current = widget->text();
    int width = 0;
    for (const QString& text : texts) {
        widget->setText(text);
        width = std::max(width, widget->sizeHint().width());
    }
    widget->setText(current);
    widget->setMinimumWidth(width);
}

} // namespace

MainWindow::MainWindow(Configuration& configuration)
    : QWidget(nullptr)
    , configuration(&configuration)
    , engine(new UpdateEngine(configuration, this))
{
    connect(engine, &UpdateEngine::error, this, &MainWindow::onError);
    connect(engine, &UpdateEngine::fatalError, this, &MainWindow::onFatalError);
    connect(engine, &UpdateEngine::updateProgress, this, &MainWindow::onProgressUpdate);
    connect(engine, &UpdateEngine::downloadProgress, this, &MainWindow::onDownloadProgress);
    connect(engine, &UpdateEngine::message, this, &MainWindow::onAppendText);
    connect(engine, &UpdateEngine::updateFinished, this, &MainWindow::onUpdateFinished);
    connect(engine, &UpdateEngine::updateCanceled, this, &MainWindow::onUpdateCanceled);
    connect(engine, &UpdateEngine::bannerFound, this, &MainWindow::onBannerFound);

    ui.setupUi(this);
    // Queued, so the log has been shown or hidden by the toggle before we look at it.
    connect(
        ui.detailsButton, &QPushButton::clicked, this, &MainWindow::onDetailsPressed, Qt::QueuedConnection);
    ui.corvaneLabel->setUrl(QString::fromLatin1(makerHomePage));

    reserveSpace();
    // Nobody edits the log: without this every appended line stays in the
    // undo history as well, whatever is dropped from the view.
    ui.outputTextEdit->setUndoRedoEnabled(false);
    ui.outputTextEdit->hide();
    onDownloadProgress(0, 0, 0, false);

    auto* singleInstance = new SingleInstanceChecker(this);
    connect(singleInstance, &SingleInstanceChecker::otherInstanceActivate, this,
        &MainWindow::onOtherInstanceActivate);
    connect(&configuration, &Configuration::fatalError, this, &MainWindow::onFatalConfigError);
    connect(&configuration, &Configuration::refused, this, &MainWindow::onVersionRefused);
    configuration.setQuestions(this);

    engine->getBanner();
}

MainWindow::~MainWindow()
{
    configuration->setQuestions(nullptr);
}

bool MainWindow::retryLatestVersionQuery(int /*failedTries*/)
{
    // No parent: the window is not shown while the command line is resolved.
    const ServerAddress server = UpdateChecker::serverAddress();
    return QMessageBox::critical(nullptr, QObject::tr("Error"),
               QObject::tr("Failed to query latest client\nversion from update server\n%1, UDP port %2.")
                   .arg(QString::fromUtf8(server.host))
                   .arg(server.port),
               QMessageBox::Retry | QMessageBox::Abort)
        == QMessageBox::Retry;
}

void MainWindow::reserveSpace()
{
    reserveWidthFor(ui.totalSizeLabel, {sizeText(widestSizeKb)});
    reserveWidthFor(ui.totalTotalSizeLabel, {sizeText(widestSizeKb)});
    reserveWidthFor(ui.downloadSpeedLabel, {speedText(widestSpeedKbPerS)});
    reserveWidthFor(ui.startButton, {ui.startButton->text(), tr("Start Corvane"), tr("Restart")});
    // Between transfers the figures are hidden, but their place stays.
    const QList<QWidget*> figures {
        ui.totalSizeLabel, ui.totalTotalSizeLabel, ui.downloadSpeedLabel, ui.sizeSeparatorLabel};
    for (QWidget* figure : figures) {
        QSizePolicy policy = figure->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        figure->setSizePolicy(policy);
    }
}

void MainWindow::setUIToConfigSpecs()
{
    QString channelName;
    switch (configuration->channel()) {
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
    // The display text is plain text from the command line or the update
    // server: escaped, it shows as written and its markup loads nothing.
    if (!configuration->versionString().isEmpty())
        text = QStringLiteral("<div style=\"font-weight:bold;font-size:14px\">")
            + tr("Update to Corvane %1.").arg(configuration->versionString().toHtmlEscaped())
            + QStringLiteral("</div>");
    text += QStringLiteral("<div style=\"margin-top:8px\">")
        + tr("You are currently on <strong>%1 channel</strong>.").arg(channelName) + QStringLiteral("</div>");
    ui.versionLabel->setText(text);

    if (configuration->runMode() == Configuration::RunMode::Unattended)
        ui.startButton->setEnabled(false);
}

void MainWindow::setNews()
{
    ui.newsBanner->setNews(configuration->news());
}

void MainWindow::showError(QWidget* parent, const QString& errorMessage)
{
    // Errors quote file names and what mirrors answered: plain text, so that
    // no markup in them is rendered or loads anything.
    QMessageBox box(QMessageBox::Critical, QObject::tr("Error"), errorMessage, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MainWindow::onFatalConfigError(QString errorMessage)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(errorMessage));
    // No parent: the window may never have been shown.
    showError(nullptr, errorMessage);
    QApplication::exit(ExitCode::configuration);
}

void MainWindow::onVersionRefused(QString reason)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(reason));
    // No parent: the window is never shown after a refusal.
    showError(nullptr, reason);
    QApplication::exit(ExitCode::refused);
}

void MainWindow::onFatalError(QString errorMessage)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(errorMessage));
    showError(this, errorMessage);
    QApplication::exit(ExitCode::updateFailed);
}

void MainWindow::onError(QString errorMessage)
{
    onAppendText(errorMessage);
    showError(this, errorMessage);
}

void MainWindow::onAutoStartUpdate()
{
    on_startButton_clicked();
}

void MainWindow::on_startButton_clicked()
{
    if (updateDone) {
        ProcessTools::startDavUzodur();
        close();
        return;
    }
    if (engine->busy())
        return;
    // A failed initialisation has already been reported by the engine.
    if (engine->initialize()) {
        ui.startButton->setEnabled(false);
        engine->startUpdate();
    }
}

void MainWindow::onAppendText(QString text)
{
    // As plain text: append() would take a line that looks like markup (a
    // file name from the product ini, a mirror's answer) for rich text.
    QScrollBar* bar = ui.outputTextEdit->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QTextDocument* log = ui.outputTextEdit->document();
    QTextCursor end(log);
    end.movePosition(QTextCursor::End);
    if (!log->isEmpty())
        end.insertBlock();
    end.insertText(text);
    if (atBottom)
        bar->setValue(bar->maximum());
    if (log->blockCount() > logLinesKept + logLinesDroppedAtOnce) {
        // Many lines in one edit: dropped one by one, each line would make a
        // shown log lay itself out again.
        QTextCursor oldest(log);
        oldest.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, logLinesDroppedAtOnce);
        oldest.removeSelectedText();
    }
    // The details log goes to standard error as well: an unattended run has
    // nobody looking at the window, and its caller keeps the log this way.
    std::fprintf(stderr, "%s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

void MainWindow::onProgressUpdate(qreal doneFrac)
{
    ui.totalProgressBar->setValue(int(doneFrac * 1000));
}

void MainWindow::onDownloadProgress(
    quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading)
{
    ui.totalSizeLabel->setVisible(downloading);
    ui.totalTotalSizeLabel->setVisible(downloading);
    ui.downloadSpeedLabel->setVisible(downloading);
    ui.sizeSeparatorLabel->setVisible(downloading);
    if (!downloading)
        return;
    ui.totalSizeLabel->setText(sizeText(downloadDone / 1000));
    ui.totalTotalSizeLabel->setText(sizeText(downloadTotal / 1000));
    ui.downloadSpeedLabel->setText(speedText(speed / 1000));
}

void MainWindow::onUpdateFinished()
{
    updateDone = true;
    ui.startButton->setText(tr("Start Corvane"));
    ui.startButton->setEnabled(true);
    ui.startButton->setFocus();

    // An open change log means someone is reading: leave the start to them.
    if (configuration->runMode() == Configuration::RunMode::Unattended && !ChangeLogViewer::instance())
        QTimer::singleShot(unattendedClientStartMs, this, &MainWindow::on_startButton_clicked);
}

void MainWindow::onUpdateCanceled()
{
    if (closeRequested) {
        QApplication::quit();
        return;
    }
    updateDone = false;
    engine->reset();
    ui.startButton->setText(tr("Restart"));
    ui.startButton->setEnabled(true);

    onAppendText(tr("Update cancelled"));
    ui.totalProgressBar->setValue(0);
    QMessageBox::critical(
        this, tr("Update"), tr("Update cancelled. Push \"Details\" to check reasons."), QMessageBox::Ok);
}

void MainWindow::onOtherInstanceActivate(QString message)
{
    if (message != QLatin1String("#"))
        return;
    raise();
    activateWindow();
}

void MainWindow::onBannerFound(QByteArray bannerImage, QString clickUrl)
{
    QPixmap pixmap;
    if (!pixmap.loadFromData(bannerImage))
        return;
    // The banner service is anyone on the network: a click opens a web
    // address or nothing.
    const QUrl url(clickUrl);
    if (UrlClickLabel::isWebUrl(url)) {
        ui.banner->setToolTip(tr("Click to open \"%1://%2\"").arg(url.scheme(), url.host()));
        ui.banner->setUrl(clickUrl);
    }
    ui.banner->setPixmap(pixmap);
}

void MainWindow::onDetailsPressed()
{
    if (ui.outputTextEdit->isVisible()) {
        QScrollBar* bar = ui.outputTextEdit->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
}

void MainWindow::on_changelogButton_clicked()
{
    ChangeLogViewer::showRemoteChangeLogDialog(this, QString::number(configuration->clientVersion()));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!engine->busy()) {
        event->accept();
        return;
    }
    event->ignore();
    if (closeRequested)
        return;
    const QMessageBox::StandardButton answer = QMessageBox::question(this, tr("Question"),
        tr("<p>Update in progress.</p><p>Are you sure you want to abort?</p>"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    closeRequested = true;
    engine->cancelUpdate();
    // The update may have ended while the question was open. No cancellation
    // will come then to quit for us, and a later one must not quit the
    // program behind the user's back: close now.
    if (!engine->busy())
        event->accept();
}
