#include "ChildProcess.h"

#include <QProcess>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// The driver runs in a session of its own (so its group is its own, and no terminal signal
// reaches it). Before the driver program starts, its process forks a watcher that stays in the
// group: it holds the reading end of a pipe whose writing end only we hold, and when that end
// closes — we ended, however we ended, kill -9 included — it kills the whole group, itself
// with it. While the watcher lives the group's number cannot be given to anyone else, so
// ending the group never touches a process that is not ours.

namespace {

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Everything here runs in a forked child: async-signal-safe calls only.
[[noreturn]] void watchGroup(int lifeline)
{
    ::prctl(PR_SET_NAME, "qds-driver-watch");
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2})
        ::sigaction(sig, &ignore, nullptr);
    // Nothing else stays open: the driver's output must close when the driver closes it.
    if (lifeline > 0)
        ::syscall(SYS_close_range, 0U, static_cast<unsigned>(lifeline - 1), 0U);
    ::syscall(SYS_close_range, static_cast<unsigned>(lifeline + 1), ~0U, 0U);
    char byte;
    for (;;) {
        const ssize_t n = ::read(lifeline, &byte, 1);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    ::kill(0, SIGKILL);
    ::_exit(0);
}

} // namespace

ChildProcess::ChildProcess(QObject* parent) : QObject(parent) {}

ChildProcess::~ChildProcess()
{
    end();
}

void ChildProcess::prepare(QProcess& process)
{
    end();
    m_process = &process;
    m_output.clear();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
        m_watcherEnd = fds[0];
        m_lifeline = fds[1];
    }
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_outputRead = fds[0];
        m_outputWrite = fds[1];
        ::fcntl(m_outputWrite, F_SETFL, 0); // the driver's own writes block as usual
        process.setStandardOutputFile(QProcess::nullDevice());
    }
    const pid_t parent = ::getpid();
    const int watcherEnd = m_watcherEnd;
    const int output = m_outputWrite;
    process.setChildProcessModifier([parent, watcherEnd, output] {
        // Between fork and exec: only async-signal-safe calls.
        const bool ownGroup = ::setsid() == ::getpid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) // the parent died before the line above
            ::_exit(1);
        if (output >= 0)
            ::dup2(output, STDOUT_FILENO);
        // A watcher outside a group of the driver's own would end ours.
        if (ownGroup && watcherEnd >= 0 && ::fork() == 0)
            watchGroup(watcherEnd);
    });
}

void ChildProcess::started(QProcess& process)
{
    closeFd(m_watcherEnd);
    closeFd(m_outputWrite);
    m_group = process.processId();
    ++m_started;
    if (m_outputRead >= 0) {
        m_outputNotifier = std::make_unique<QSocketNotifier>(m_outputRead, QSocketNotifier::Read);
        connect(m_outputNotifier.get(), &QSocketNotifier::activated, this, &ChildProcess::readPipe);
    }
}

void ChildProcess::end()
{
    if (m_group > 0)
        ::kill(-static_cast<pid_t>(m_group), SIGKILL);
    m_group = 0;
    m_process = nullptr; // it may be deleted once ended
    m_outputNotifier.reset();
    closeFd(m_watcherEnd);
    closeFd(m_lifeline);
    closeFd(m_outputRead);
    closeFd(m_outputWrite);
}

bool ChildProcess::hasEnded() const
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return true;
    // Looked at without collecting it: QProcess collects it and reports its end.
    siginfo_t info = {};
    return ::waitid(P_PID, static_cast<id_t>(m_process->processId()), &info,
                    WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid != 0;
}

QByteArray ChildProcess::readOutput()
{
    drain();
    return std::exchange(m_output, QByteArray());
}

void ChildProcess::readPipe()
{
    const qsizetype before = m_output.size();
    drain();
    if (m_output.size() > before)
        emit outputReady();
}

void ChildProcess::drain()
{
    if (m_outputRead < 0)
        return;
    // Bounded, so that a driver that never stops writing cannot hold the event loop.
    char buffer[65536];
    for (int i = 0; i < 64; ++i) {
        const ssize_t n = ::read(m_outputRead, buffer, sizeof buffer);
        if (n > 0) {
            m_output.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) { // every writer closed it
            m_outputNotifier.reset();
            closeFd(m_outputRead);
            // Told from the event loop, and only if that process is still the one here.
            QMetaObject::invokeMethod(
                this,
                [this, started = m_started] {
                    if (started == m_started)
                        emit outputClosed();
                },
                Qt::QueuedConnection);
        }
        return;
    }
}
