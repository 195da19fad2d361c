#pragma once

#include <QtGlobal>
#include <functional>
#include <vector>

class QEventLoop;

// Waits without using the CPU while the thread's event loop keeps serving windows, timers and
// driver events; without an application object it simply sleeps. One object is shared by
// everything that waits for the register (the pipeline, the simulated register), so that the
// shut-down can end all their waits at once. Used from the UI thread only.
class InterruptibleWait
{
public:
    // False when the wait was cut short by interrupt().
    bool serveEventsFor(int milliseconds);

    enum class End { Done, TimedOut, Interrupted };
    // Serves events until `done` holds (checked at the start and after every wake()), the time
    // is up or interrupt() is called. Time during which this process could not run (it was
    // stopped or suspended) does not count.
    End serveEventsUntil(int milliseconds, const std::function<bool()>& done);
    // Makes the waits under way look at their condition again (something they wait for came).
    void wake();

    // Ends every wait under way, and makes new ones return at once, until resume(): used when
    // the program must shut down while a wait (a register that stopped answering) is in progress.
    void interrupt();
    void resume();

    // A wake-up this much later than asked means the process did not run meanwhile.
    static constexpr int kPauseMs = 1000;

private:
    // Waits are cut into slices, so that a pause is seen soon after it ends.
    static constexpr qint64 kLongestSliceMs = 1000;
    bool m_interrupted = false;
    std::vector<QEventLoop*> m_loops;
};
