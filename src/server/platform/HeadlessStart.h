#pragma once

// Where there is no display, chooses Qt's offscreen platform before the application object is
// made (and says so on standard error), so that the program also runs headless or as a service.
void chooseOffscreenWithoutDisplay();
