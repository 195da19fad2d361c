#include "EventLoopWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// Only the UI thread waits here.
bool g_interrupted = false;
std::vector<QEventLoop*> g_loops;

} // namespace

bool serveEventsFor(int milliseconds)
{
    if (g_interrupted)
        return false;
    if (milliseconds <= 0)
        return true;
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return true;
    }
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    g_loops.push_back(&loop);
    loop.exec();
    g_loops.erase(std::find(g_loops.begin(), g_loops.end(), &loop));
    return !g_interrupted;
}

void interruptWaits()
{
    g_interrupted = true;
    for (QEventLoop* loop : g_loops)
        loop->quit();
}

void resumeWaits()
{
    g_interrupted = false;
}
