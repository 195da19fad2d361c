#include "HeadlessStart.h"

// Where the system always has a desktop (Windows, macOS), Qt's own platform is the right one.
void chooseOffscreenWithoutDisplay() {}
