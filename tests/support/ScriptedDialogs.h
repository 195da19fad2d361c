#pragma once

#include "documents/CommonDialog.h"
#include "ui/widgets/UserDialogs.h"

#include <QDialog>
#include <QStringList>
#include <deque>
#include <functional>

// Answers every dialog from a script and records what was asked; no real modal window ever
// waits in a test.
class ScriptedDialogs : public UserDialogs
{
public:
    void critical(QWidget*, const QString& title, const QString& text) override
    {
        messages << title + "|" + text;
    }
    Answer question(QWidget*, const QString& title, const QString& text) override
    {
        questions << title + "|" + text;
        return take(answers, Answer::Cancel);
    }
    std::optional<QString> chooseFolder(QWidget*, const QString& title,
                                        const QString& startAt) override
    {
        folderTitles << title;
        folderStarts << startAt;
        return take(folders, std::optional<QString>());
    }
    std::optional<QString> openFileName(QWidget*, const CommonDialog& d) override
    {
        fileDialogs << d;
        return take(openNames, std::optional<QString>());
    }
    std::optional<QString> saveFileName(QWidget*, const CommonDialog& d) override
    {
        fileDialogs << d;
        return take(saveNames, std::optional<QString>());
    }
    // The test acts on the open window (clicks, edits, close); a window the script leaves open
    // is closed as by its close box.
    void exec(QDialog& dialog) override
    {
        ++execCount;
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        if (auto action = take(windowActions, std::function<void(QDialog&)>()))
            action(dialog);
        if (dialog.isVisible() && closeLeftOpen)
            dialog.close();
    }

    QStringList messages, questions, folderTitles, folderStarts;
    QList<CommonDialog> fileDialogs;
    std::deque<Answer> answers;
    std::deque<std::optional<QString>> folders, openNames, saveNames;
    std::deque<std::function<void(QDialog&)>> windowActions;
    bool closeLeftOpen = true;
    int execCount = 0;

private:
    template <typename T> static T take(std::deque<T>& queue, T fallback)
    {
        if (queue.empty())
            return fallback;
        T value = queue.front();
        queue.pop_front();
        return value;
    }
};
