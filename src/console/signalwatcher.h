// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the event loop.
#pragma once

#include <QObject>

class QSocketNotifier;

/// While it lives, the three signals no longer end the process: the handler
/// only notes the signal and writes a byte into a pipe that the event loop
/// watches, so the cancel runs as ordinary code on the GUI thread. One
/// watcher at a time; the destructor restores the default handling.
class SignalWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(SignalWatcher)

public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    /// The first signal received while the watcher lives, or 0. Readable at
    /// any time, also while a blocking call keeps the event loop away.
    static int firstSignal();

signals:
    /// Once per signal, in the order they came.
    void received(int signalNumber);

private slots:
    void onReadable();

private:
    QSocketNotifier* notifier = nullptr;
};
