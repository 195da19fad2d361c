#include "TerminationSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalFd[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe calls here; a full pipe just drops the duplicate request.
    [[maybe_unused]] const auto n = ::write(g_signalFd[0], &byte, 1);
}

} // namespace

struct TerminationSignals::Private
{
    QSocketNotifier* notifier = nullptr;
};

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent), d(new Private)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFd) != 0) {
        qWarning("Cannot watch for termination signals");
        return;
    }
    for (int fd : g_signalFd)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    d->notifier = new QSocketNotifier(g_signalFd[1], QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_signalFd[1], buffer, sizeof buffer) > 0) {
        }
        emit terminationRequested();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    for (int& fd : g_signalFd) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    delete d;
}
