#pragma once

#include <QString>
#include <optional>

class QDialog;
class QWidget;
struct CommonDialog;

// Message boxes, file and folder choosers and modal windows go through here, so that tests
// answer them and a program without a display writes messages to standard error and takes the
// default answer at once instead of waiting for a person who is not there.
class UserDialogs
{
public:
    enum class Answer { Yes, No, Cancel };

    virtual ~UserDialogs() = default;
    // Critical icon, OK button only.
    virtual void critical(QWidget* owner, const QString& title, const QString& text) = 0;
    // Question icon, Yes, No and Cancel.
    virtual Answer question(QWidget* owner, const QString& title, const QString& text) = 0;
    // An existing folder, or nothing when cancelled.
    // Opens at startAt (the folder being changed).
    virtual std::optional<QString> chooseFolder(QWidget* owner, const QString& title,
                                                const QString& startAt) = 0;
    // Open and save dialogs set up from the common dialog state; nothing when cancelled.
    virtual std::optional<QString> openFileName(QWidget* owner, const CommonDialog& dialog) = 0;
    virtual std::optional<QString> saveFileName(QWidget* owner, const CommonDialog& dialog) = 0;
    // Runs a window modally until it closes.
    virtual void exec(QDialog& dialog) = 0;
};

class QtUserDialogs : public UserDialogs
{
public:
    void critical(QWidget* owner, const QString& title, const QString& text) override;
    Answer question(QWidget* owner, const QString& title, const QString& text) override;
    std::optional<QString> chooseFolder(QWidget* owner, const QString& title,
                                        const QString& startAt) override;
    std::optional<QString> openFileName(QWidget* owner, const CommonDialog& dialog) override;
    std::optional<QString> saveFileName(QWidget* owner, const CommonDialog& dialog) override;
    void exec(QDialog& dialog) override;

    // True where nobody can answer a dialog (the offscreen platform).
    static bool headless();
};
