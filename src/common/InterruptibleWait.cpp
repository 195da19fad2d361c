#include "InterruptibleWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

bool InterruptibleWait::serveEventsFor(int milliseconds)
{
    return serveEventsUntil(milliseconds, {}) != End::Interrupted;
}

InterruptibleWait::End InterruptibleWait::serveEventsUntil(int milliseconds,
                                                           const std::function<bool()>& done)
{
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, milliseconds));
    for (;;) {
        if (m_interrupted)
            return End::Interrupted;
        if (done && done())
            return End::Done;
        const auto now = Clock::now();
        if (now >= deadline)
            return End::TimedOut;
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        if (!QCoreApplication::instance()) {
            // Nothing can change without events: the whole time passes.
            std::this_thread::sleep_for(std::chrono::milliseconds(remaining));
            continue;
        }
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(static_cast<int>(std::min<qint64>(remaining, kLongestSliceMs)));
        const auto sliceEnd = now + std::chrono::milliseconds(timer.interval());
        m_loops.push_back(&loop);
        loop.exec();
        m_loops.erase(std::find(m_loops.begin(), m_loops.end(), &loop));
        // Woken far later than asked: this process did not run (stopped, a laptop's suspend,
        // starved). That time is not the other side's; what it sent meanwhile is still to be
        // read, so the deadline moves by what was lost.
        const auto late = Clock::now() - sliceEnd;
        if (late > std::chrono::milliseconds(kPauseMs))
            deadline += late;
    }
}

void InterruptibleWait::wake()
{
    for (QEventLoop* loop : m_loops)
        loop->quit();
}

void InterruptibleWait::interrupt()
{
    m_interrupted = true;
    for (QEventLoop* loop : m_loops)
        loop->quit();
}

void InterruptibleWait::resume()
{
    m_interrupted = false;
}
