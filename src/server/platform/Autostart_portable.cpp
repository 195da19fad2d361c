#include "Autostart.h"

// A Windows layer would write a shortcut into the user's Startup folder, a macOS one a launch
// agent; until then the option says it cannot.
AutostartResult setAutostart(bool, const QString&, const QString&)
{
    return {false, QStringLiteral("Starting at login is not available on this system yet.")};
}
