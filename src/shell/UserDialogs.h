#pragma once

#include <QString>

class QWidget;

// Message boxes go through here, so that tests answer them and a program without a display
// writes them to standard error instead of waiting for a person who is not there.
class UserDialogs
{
public:
    virtual ~UserDialogs() = default;
    // Critical icon, OK button only.
    virtual void critical(QWidget* owner, const QString& title, const QString& text) = 0;
};

class QtUserDialogs : public UserDialogs
{
public:
    void critical(QWidget* owner, const QString& title, const QString& text) override;

    // True where nobody can answer a dialog (the offscreen platform).
    static bool headless();
};
