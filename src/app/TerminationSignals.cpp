#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// SIGUSR1 and SIGUSR2 end a program by default: here they quit as cleanly.
const int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2};
int signalSocket[2] = {-1, -1};

// Only async-signal-safe work here: the quit itself runs in the event loop.
// Non-blocking: a burst of signals never blocks in the handler.
void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSocket[0], &byte, 1);
}

} // namespace

void quitOnTerminationSignals() {
    if (signalSocket[0] != -1 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSocket) != 0)
        return;
    auto* notifier =
        new QSocketNotifier(signalSocket[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(signalSocket[1], &byte, 1);
        // The signals stay caught: a second one during the quit's last write
        // must not end the process before the settings are on disk.
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
    // A reader that goes away is a failed write (the frame log's, an export's),
    // not the end of the program.
    std::signal(SIGPIPE, SIG_IGN);
}
