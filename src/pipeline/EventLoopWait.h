#pragma once

// Waits without using the CPU while the thread's event loop keeps serving windows, timers and
// driver events. Without an application object it simply sleeps.
void serveEventsFor(int milliseconds);
