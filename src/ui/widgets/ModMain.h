#pragma once

class QWidget;

// Puts the window above all ordinary windows (on) or back among them, and activates it;
// position and size stay.
bool SetTopMost(QWidget* window, bool onTop);

// Brings the window back from minimised, shows, raises and activates it; so too the dialog that
// blocks it, if one is open, which stays above it.
void bringForward(QWidget* window);

// A window that `owner`'s window opens stays above it: it is transient for it (a Qt parent),
// and when the owner is kept above ordinary windows, so is the window, or it would open
// behind it.
void keepAboveOwner(QWidget& window, const QWidget* owner);
