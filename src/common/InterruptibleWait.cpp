#include "InterruptibleWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

bool InterruptibleWait::serveEventsFor(int milliseconds)
{
    if (m_interrupted)
        return false;
    if (milliseconds <= 0)
        return true;
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return true;
    }
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    m_loops.push_back(&loop);
    loop.exec();
    m_loops.erase(std::find(m_loops.begin(), m_loops.end(), &loop));
    return !m_interrupted;
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
