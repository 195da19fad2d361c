#pragma once

class QWidget;

// Puts the window above all ordinary windows (on) or back among them, and activates it;
// position and size stay.
bool SetTopMost(QWidget* window, bool onTop);
