#pragma once

#include <QString>

// Starting the program at login for one program folder, as the desktop's autostart rules allow.
// Each folder has its own entry, so several registers can start side by side.
struct AutostartResult
{
    bool ok = false;
    QString message; // what was done, or why it could not be
};
AutostartResult setAutostart(bool on, const QString& executable, const QString& programFolder);
