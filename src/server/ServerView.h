#pragma once

#include <QString>

// What the server asks of its window, besides rendering the status model. The main window
// implements it; the server's tests record it.
class ServerView
{
public:
    virtual ~ServerView() = default;
    // A message that ends the program (another instance runs, the port does not open); returns
    // once it is dismissed.
    virtual void showCritical(const QString& text) = 0;
    // Captions in the language of the settings (0 Italian, 1000 English).
    virtual void applyLanguage(int languageOffset) = 0;
    // The title of the register's frame, which names the port.
    virtual void setPortTitle(const QString& text) = 0;
    // The notification-area icon exists from a successful start-up to the end of the run.
    virtual void showTrayIcon() = 0;
    virtual void removeTrayIcon() = 0;
    // Our own open dialogs (and a message of the start-up) are closed as if cancelled.
    virtual void closeModalWindows() = 0;
    // The run is over: the window goes.
    virtual void runEnded() = 0;
};
