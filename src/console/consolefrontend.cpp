// The updater without a window.
#include "consolefrontend.h"

#include <csignal>
#include <cstdio>

#include <QCoreApplication>
#include <QJsonObject>

#include "app/configuration.h"
#include "app/exitcodes.h"
#include "app/installationlock.h"
#include "app/processtools.h"
#include "app/updatechecker.h"
#include "app/updateengine.h"
#include "buildconfig.h"
#include "consoleoutput.h"
#include "crypto/trustedkeys.h"
#include "signalwatcher.h"

namespace {

constexpr int redrawMs = 100;
// A script reading --json wants to follow the progress, not to be flooded.
constexpr int jsonProgressMs = 500;
constexpr int quietContextLines = 3;

QString signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signalNumber);
    }
}

// "update.corvane.example, UDP port 17384": where the version query went.
QString updateServerName()
{
    const ServerAddress server = UpdateChecker::serverAddress();
    return QStringLiteral("%1, UDP port %2").arg(QString::fromUtf8(server.host)).arg(server.port);
}

void print(std::FILE* stream, const QString& text)
{
    std::fputs(qUtf8Printable(text), stream);
    std::fflush(stream);
}

// The key fingerprints let a publisher see which keys this build trusts
// without a signed release at hand.
QString versionText()
{
    QString text = QStringLiteral("update (Corvane Client updater) %1\n").arg(QLatin1String(CORVANE_VERSION));
    for (const QString& fingerprint : TrustedKeys::fingerprints())
        text += QStringLiteral("Release signing key: %1\n").arg(fingerprint);
    return text;
}

} // namespace

int ConsoleFrontEnd::run(const ConsoleOptions& options)
{
    if (!options.error.isEmpty()) {
        print(stderr,
            QStringLiteral("update: %1\n%2Try 'update --help'.\n")
                .arg(options.error, ConsoleOptions::usageText()));
        return ExitCode::usage;
    }
    if (options.command == ConsoleOptions::Help) {
        print(stdout, ConsoleOptions::helpText());
        return ExitCode::success;
    }
    if (options.command == ConsoleOptions::Version) {
        print(stdout, versionText());
        return ExitCode::success;
    }
    // A reader that goes away (update --console | head) must not end the
    // process in the middle of an installation: writes fail quietly instead.
    std::signal(SIGPIPE, SIG_IGN);
    ConsoleOutput output(ConsoleOutput::detect(options.quiet, options.json), options.quiet);
    ConsoleFrontEnd frontEnd(options, output);
    const int exitCode = frontEnd.exec();
    if (options.json)
        frontEnd.writeJsonResult(exitCode);
    return exitCode;
}

ConsoleFrontEnd::ConsoleFrontEnd(const ConsoleOptions& options, ConsoleOutput& output)
    : options(options)
    , output(output)
    , lock(std::make_unique<InstallationLock>())
{
}

ConsoleFrontEnd::~ConsoleFrontEnd()
{
    if (configuration)
        configuration->setQuestions(nullptr);
}

int ConsoleFrontEnd::exec()
{
    auto* signalWatcher = new SignalWatcher(this);
    connect(signalWatcher, &SignalWatcher::received, this, &ConsoleFrontEnd::onSignal);

    // An update holds the installation's lock until the program ends, as
    // the window does. A check changes nothing, so it only looks whether an
    // updater holds the lock now, without making the lock file.
    const QString root = Configuration::getAppRootPath();
    const bool update = options.command == ConsoleOptions::Update;
    InstallationLock::Outcome locked = InstallationLock::Acquired;
    if (update)
        locked = lock->acquire(root);
    else if (InstallationLock::heldElsewhere(root))
        locked = InstallationLock::HeldElsewhere;
    if (locked == InstallationLock::HeldElsewhere) {
        output.error(InstallationLock::busyMessage(root));
        return ExitCode::otherUpdater;
    }
    // An update that cannot hold the lock changes nothing either.
    if (locked == InstallationLock::Unavailable) {
        output.error(lock->unavailableMessage());
        return ExitCode::otherUpdater;
    }
    // Leftovers of a self-update go first, as in the window; a check
    // changes nothing, not even these.
    if (update)
        UpdateEngine::removeSelfUpdateLeftovers();

    configuration = std::make_unique<Configuration>();
    configuration->setQuestions(this);
    configuration->setLocalDowngradeAllowed(options.allowDowngrade);
    connect(configuration.get(), &Configuration::fatalError, this, &ConsoleFrontEnd::onFatalConfigError);
    connect(configuration.get(), &Configuration::refused, this, &ConsoleFrontEnd::onVersionRefused);
    engine = std::make_unique<UpdateEngine>(*configuration, nullptr);
    connect(engine.get(), &UpdateEngine::message, this, &ConsoleFrontEnd::onMessage);
    connect(engine.get(), &UpdateEngine::error, this, &ConsoleFrontEnd::onError);
    connect(engine.get(), &UpdateEngine::fatalError, this, &ConsoleFrontEnd::onFatalError);
    connect(engine.get(), &UpdateEngine::updateProgress, this, &ConsoleFrontEnd::onUpdateProgress);
    connect(engine.get(), &UpdateEngine::downloadProgress, this, &ConsoleFrontEnd::onDownloadProgress);
    connect(engine.get(), &UpdateEngine::listsCompiled, this, &ConsoleFrontEnd::onListsCompiled);
    connect(engine.get(), &UpdateEngine::updateFinished, this, &ConsoleFrontEnd::onUpdateFinished);
    connect(engine.get(), &UpdateEngine::checkFinished, this, &ConsoleFrontEnd::onCheckFinished);
    connect(engine.get(), &UpdateEngine::updateCanceled, this, &ConsoleFrontEnd::onUpdateCanceled);

    const QString program = QCoreApplication::arguments().value(0);
    if (!configuration->parseCommandLineOptions(options.unattendedArguments(program)))
        return resolveFailureCode();
    if (SignalWatcher::firstSignal() != 0)
        return ExitCode::signalBase + SignalWatcher::firstSignal();

    // Queued, so that a fatal error the engine holds back until the event
    // loop runs (an invalid proxy) ends the run before it starts.
    QMetaObject::invokeMethod(this, &ConsoleFrontEnd::onStart, Qt::QueuedConnection);
    looping = true;
    const int exitCode = QCoreApplication::exec();
    looping = false;
    return exitCode;
}

int ConsoleFrontEnd::resolveFailureCode()
{
    if (SignalWatcher::firstSignal() != 0)
        return ExitCode::signalBase + SignalWatcher::firstSignal();
    if (failureCode != 0)
        return failureCode;
    // Nobody has said why yet.
    if (versionQueryGaveUp)
        output.error(QStringLiteral("No answer from the update server %1 after %2 tries")
                         .arg(updateServerName())
                         .arg(versionQueryTries));
    else
        output.error(QStringLiteral("The update server names no version for the %1 channel")
                         .arg(channelName(configuration->channel())));
    return ExitCode::configuration;
}

bool ConsoleFrontEnd::retryLatestVersionQuery(int failedTries)
{
    output.error(
        QStringLiteral("Failed to query the latest client version from the update server %1 (try %2 of %3)")
            .arg(updateServerName())
            .arg(failedTries)
            .arg(versionQueryTries));
    // A signal cuts the query short; the run then ends as cancelled.
    const bool retry = failedTries < versionQueryTries && SignalWatcher::firstSignal() == 0;
    versionQueryGaveUp = !retry;
    return retry;
}

void ConsoleFrontEnd::onStart()
{
    if (ending)
        return;
    if (SignalWatcher::firstSignal() != 0) {
        end(ExitCode::signalBase + SignalWatcher::firstSignal());
        return;
    }
    const bool check = options.command == ConsoleOptions::Check;
    output.log(
        QStringLiteral("%1 %2 %3 %4 (version %5, %6 channel)")
            .arg(check ? QStringLiteral("Checking") : QStringLiteral("Updating"), configuration->clientType(),
                check ? QStringLiteral("for") : QStringLiteral("to"), targetVersion(),
                QString::number(configuration->clientVersion()), channelName(configuration->channel())));
    const bool initialized = check ? engine->initializeCheck() : engine->initialize();
    if (!initialized) {
        // The engine or the configuration has said why, as a fatal error
        // unless a later version of them forgets to.
        if (failureCode == 0)
            reportFailure(QStringLiteral("%1 of %2 could not start").arg(what(), targetVersion()));
        end(failureCode != 0 ? failureCode : ExitCode::updateFailed);
        return;
    }
    sinceStart.start();
    running = true;
    if (check)
        engine->startCheck();
    else
        engine->startUpdate();
    drawProgress(true);
}

void ConsoleFrontEnd::onMessage(QString message)
{
    if (output.mode() == ConsoleOutput::Quiet) {
        recentLines.append(message);
        if (recentLines.size() > quietContextLines)
            recentLines.removeFirst();
        return;
    }
    output.log(message);
    drawProgress(false);
}

void ConsoleFrontEnd::onError(QString errorMessage)
{
    output.error(errorMessage);
}

void ConsoleFrontEnd::onFatalConfigError(QString errorMessage)
{
    fail(ExitCode::configuration, errorMessage);
}

void ConsoleFrontEnd::onVersionRefused(QString reason)
{
    fail(ExitCode::refused, reason);
    if (!configuration->versionFromNetwork())
        output.error(QStringLiteral("--allow-downgrade installs an older version named on the command line"));
}

void ConsoleFrontEnd::onFatalError(QString errorMessage)
{
    fail(ExitCode::updateFailed, errorMessage);
}

void ConsoleFrontEnd::fail(int exitCode, const QString& errorMessage)
{
    output.error(errorMessage);
    if (failureCode == 0)
        failureCode = exitCode;
    if (running)
        engine->cancelUpdate(); // ends in onUpdateCanceled, after any rollback
    else if (looping)
        end(failureCode);
}

void ConsoleFrontEnd::onUpdateProgress(qreal doneFrac)
{
    progress.fraction = doneFrac;
    drawProgress(false);
}

void ConsoleFrontEnd::onDownloadProgress(
    quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading)
{
    // The tick's speed is the last second's; a little memory steadies the
    // time left without hiding a real change for long.
    progress.speed = downloading && progress.transfer ? (speed + 2 * progress.speed) / 3 : speed;
    progress.transfer = downloading;
    progress.done = downloadDone;
    progress.total = downloadTotal;
    drawProgress(false);
}

void ConsoleFrontEnd::onListsCompiled(WorkListSummary summary)
{
    work = summary;
    if (options.command == ConsoleOptions::Update)
        output.log(ConsoleText::plannedWork(work));
}

void ConsoleFrontEnd::onUpdateFinished()
{
    running = false;
    output.result(ConsoleText::updateSummary(targetVersion(), work, sinceStart.elapsed() / 1000.0));
    if (options.startClient) {
        output.log(QStringLiteral("Starting the client"));
        // Ignoring SIGPIPE is our business; the client starts with the default.
        std::signal(SIGPIPE, SIG_DFL);
        ProcessTools::startDavUzodur();
    }
    end(ExitCode::success);
}

void ConsoleFrontEnd::onCheckFinished()
{
    running = false;
    output.result(ConsoleText::checkSummary(targetVersion(), work));
    end(work.nothingToDo() ? ExitCode::success : ExitCode::updateAvailable);
}

void ConsoleFrontEnd::onUpdateCanceled()
{
    running = false;
    if (cancelSignal != 0) {
        output.error(QStringLiteral("%1 cancelled by %2").arg(what(), signalName(cancelSignal)));
        end(ExitCode::signalBase + cancelSignal);
        return;
    }
    reportFailure(QStringLiteral("%1 of %2 failed").arg(what(), targetVersion()));
    end(failureCode != 0 ? failureCode : ExitCode::updateFailed);
}

void ConsoleFrontEnd::onSignal(int signalNumber)
{
    // A cancel may have ended before the bytes of further signals were read;
    // they are still reported, a finishing run's are not.
    if (cancelSignal != 0) {
        output.error(QStringLiteral("%1 received: still cancelling; the program ends as soon as the changes "
                                    "made so far are undone")
                         .arg(signalName(signalNumber)));
        return;
    }
    if (ending)
        return;
    if (running && options.command == ConsoleOptions::Update && engine->stage() == UpdateStage::Deletion) {
        // The new version is in place and its installation can no longer be
        // undone; cancelling now would only leave the "_old_" copies and the
        // obsolete files behind, and an exit code that claims the old
        // version is still there. The last stage is short: it finishes.
        output.error(QStringLiteral("%1 received: the update is installed; finishing its clean-up")
                         .arg(signalName(signalNumber)));
        return;
    }
    cancelSignal = signalNumber;
    if (!running) {
        end(ExitCode::signalBase + signalNumber);
        return;
    }
    output.log(QStringLiteral("%1 received: cancelling the update").arg(signalName(signalNumber)));
    engine->cancelUpdate();
    drawProgress(true);
}

void ConsoleFrontEnd::end(int exitCode)
{
    if (ending)
        return;
    ending = true;
    output.clearProgress();
    QCoreApplication::exit(exitCode);
}

void ConsoleFrontEnd::drawProgress(bool force)
{
    if (output.mode() == ConsoleOutput::Json && running) {
        writeJsonProgress();
        return;
    }
    if (output.mode() != ConsoleOutput::Terminal || !running)
        return;
    const QString stage = stageName();
    if (!force && stage == progress.stage && sinceDraw.isValid() && sinceDraw.elapsed() < redrawMs)
        return;
    progress.stage = stage;
    sinceDraw.start();
    output.progress(ConsoleText::progressLine(progress, ConsoleOutput::width()));
}

void ConsoleFrontEnd::writeJsonProgress()
{
    if (sinceEvent.isValid() && sinceEvent.elapsed() < jsonProgressMs)
        return;
    sinceEvent.start();
    QJsonObject event {{QStringLiteral("event"), QStringLiteral("progress")},
        {QStringLiteral("stage"), stageName()},
        {QStringLiteral("fraction"), qBound(0.0, progress.fraction, 1.0)}};
    if (progress.transfer) {
        event.insert(QStringLiteral("bytesDone"), qint64(progress.done));
        event.insert(QStringLiteral("bytesTotal"), qint64(progress.total));
        event.insert(QStringLiteral("bytesPerSecond"), qint64(progress.speed));
    }
    output.event(event);
}

void ConsoleFrontEnd::writeJsonResult(int exitCode) const
{
    const bool check = options.command == ConsoleOptions::Check;
    QString result;
    if (exitCode == ExitCode::success)
        result = !check && !work.nothingToDo() ? QStringLiteral("updated") : QStringLiteral("up-to-date");
    else if (exitCode == ExitCode::updateAvailable)
        result = QStringLiteral("update-available");
    else if (exitCode == ExitCode::configuration)
        result = QStringLiteral("configuration-failed");
    else if (exitCode == ExitCode::otherUpdater)
        result = QStringLiteral("busy");
    else if (exitCode > ExitCode::signalBase)
        result = QStringLiteral("cancelled");
    else
        result = QStringLiteral("failed");
    QJsonObject event {{QStringLiteral("event"), QStringLiteral("result")},
        {QStringLiteral("result"), result}, {QStringLiteral("exitCode"), exitCode},
        {QStringLiteral("command"), check ? QStringLiteral("check") : QStringLiteral("update")},
        {QStringLiteral("files"),
            QJsonObject {{QStringLiteral("download"), work.downloads},
                {QStringLiteral("install"), work.installs}, {QStringLiteral("delete"), work.deletions}}},
        {QStringLiteral("bytes"), qint64(work.downloadBytes)},
        {QStringLiteral("seconds"), sinceStart.isValid() ? sinceStart.elapsed() / 1000.0 : 0.0}};
    if (configuration) {
        event.insert(QStringLiteral("clientType"), configuration->clientType());
        event.insert(QStringLiteral("channel"), channelName(configuration->channel()));
        event.insert(QStringLiteral("version"), configuration->clientVersion());
        event.insert(QStringLiteral("versionText"), targetVersion());
    }
    if (exitCode != ExitCode::success && exitCode != ExitCode::updateAvailable
        && !output.lastError().isEmpty())
        event.insert(QStringLiteral("error"), output.lastError());
    output.event(event);
}

QString ConsoleFrontEnd::stageName() const
{
    const UpdateStage stage = engine->stage();
    if (cancelSignal != 0)
        return stage == UpdateStage::Installation ? QStringLiteral("Rolling back")
                                                  : QStringLiteral("Cancelling");
    switch (stage) {
    case UpdateStage::ProductIni:
        return QStringLiteral("Product ini");
    case UpdateStage::Lists:
        return QStringLiteral("Comparing");
    case UpdateStage::Downloads:
        return QStringLiteral("Downloading");
    case UpdateStage::Installation:
        return QStringLiteral("Installing");
    case UpdateStage::Deletion:
        return QStringLiteral("Deleting");
    case UpdateStage::None:
        break;
    }
    return QStringLiteral("Starting");
}

void ConsoleFrontEnd::reportFailure(const QString& errorMessage)
{
    // Without them a quiet run would not say why it failed.
    for (const QString& line : std::as_const(recentLines))
        output.error(line);
    output.error(errorMessage);
}

QString ConsoleFrontEnd::what() const
{
    return options.command == ConsoleOptions::Check ? QStringLiteral("Check") : QStringLiteral("Update");
}

QString ConsoleFrontEnd::targetVersion() const
{
    return configuration->versionString().isEmpty() ? QString::number(configuration->clientVersion())
                                                    : configuration->versionString();
}
