#include "InterruptibleWait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
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
    const QDeadlineTimer deadline(std::max(0, milliseconds), Qt::PreciseTimer);
    for (;;) {
        if (m_interrupted)
            return End::Interrupted;
        if (done && done())
            return End::Done;
        const qint64 remaining = deadline.remainingTime();
        if (remaining <= 0)
            return End::TimedOut;
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
        timer.start(static_cast<int>(remaining));
        m_loops.push_back(&loop);
        loop.exec();
        m_loops.erase(std::find(m_loops.begin(), m_loops.end(), &loop));
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
