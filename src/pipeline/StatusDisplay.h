#pragma once

#include <QString>

enum class TrayPicture { Normal, Error, Warning };

// What the pipeline and the driver-event handling show: the main window and the notification-area
// icon implement it, tests record it.
class StatusDisplay
{
public:
    virtual ~StatusDisplay() = default;

    virtual QString stateText() const = 0; // lblStato
    virtual void setStateText(const QString& text) = 0;
    virtual QString errorText() const = 0; // lblErrore
    virtual void setErrorText(const QString& text) = 0;
    virtual void setTrayPicture(TrayPicture picture) = 0;
    virtual void setTrayToolTip(const QString& text) = 0;
    // lblOra and lblNumero, already formatted.
    virtual void setLastReceipt(const QString& time, const QString& number) = 0;
    // Shows the main window and keeps it above ordinary windows.
    virtual void showAndRaise() = 0;
};
