#pragma once

// Waits without using the CPU while the thread's event loop keeps serving windows, timers and
// driver events. Without an application object it simply sleeps. Returns false when the wait was
// cut short by interruptWaits().
bool serveEventsFor(int milliseconds);

// Ends every wait under way, and makes new ones return at once, until resumeWaits(): used when
// the program must shut down while a wait (a register that stopped answering) is in progress.
void interruptWaits();
void resumeWaits();
