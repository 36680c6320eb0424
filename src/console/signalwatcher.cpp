// Signals through a self-pipe.
#include "signalwatcher.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

constexpr int watched[] = {SIGINT, SIGTERM, SIGHUP};
int pipeFds[2] = {-1, -1};
volatile std::sig_atomic_t first = 0;

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    if (first == 0)
        first = signalNumber;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Non-blocking: with the pipe full, the signal is noted in first anyway.
    (void)::write(pipeFds[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalWatcher::SignalWatcher(QObject* parent)
    : QObject(parent)
{
    first = 0;
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalWatcher::onReadable);

    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls resume; a receive with a time-out still
    // returns early, which ends a pending version query sooner.
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : watched)
        ::sigaction(signalNumber, &action, nullptr);
}

SignalWatcher::~SignalWatcher()
{
    for (const int signalNumber : watched)
        ::signal(signalNumber, SIG_DFL);
    if (pipeFds[0] >= 0) {
        delete notifier;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        pipeFds[0] = pipeFds[1] = -1;
    }
}

int SignalWatcher::firstSignal()
{
    return first;
}

void SignalWatcher::onReadable()
{
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1)
        emit received(byte);
}
