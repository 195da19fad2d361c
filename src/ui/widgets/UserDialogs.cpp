#include "UserDialogs.h"

#include "ModMain.h"
#include "documents/CommonDialog.h"

#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>

namespace {

void tell(const QString& title, const QString& text)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    std::fflush(stderr);
}

std::optional<QString> runFileDialog(QWidget* owner, const CommonDialog& state,
                                     QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(owner, state.DialogTitle);
    keepAboveOwner(dialog, owner);
    dialog.setAcceptMode(mode);
    // A typed name is accepted without checking that the file exists.
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = state.nameFilters();
    dialog.setNameFilters(filters);
    if (state.FilterIndex >= 1 && state.FilterIndex <= filters.size())
        dialog.selectNameFilter(filters[state.FilterIndex - 1]);
    if (!state.confirmsOverwrite())
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!state.InitDir.isEmpty())
        dialog.setDirectory(state.InitDir);
    if (!state.FileName.isEmpty())
        dialog.selectFile(state.FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

} // namespace

bool QtUserDialogs::headless()
{
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

void QtUserDialogs::critical(QWidget* owner, const QString& title, const QString& text)
{
    // Also on standard error: whoever started the program from a terminal or a service sees it.
    tell(title, text);
    if (headless())
        return;
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, owner);
    keepAboveOwner(box, owner);
    box.exec();
}

UserDialogs::Answer QtUserDialogs::question(QWidget* owner, const QString& title,
                                            const QString& text)
{
    if (headless()) {
        tell(title, text + QStringLiteral(" [Yes]"));
        return Answer::Yes;
    }
    QMessageBox box(QMessageBox::Question, title, text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, owner);
    box.setDefaultButton(QMessageBox::Yes);
    keepAboveOwner(box, owner);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

std::optional<QString> QtUserDialogs::chooseFolder(QWidget* owner, const QString& title,
                                                   const QString& startAt)
{
    if (headless())
        return std::nullopt;
    QFileDialog dialog(owner, title, startAt);
    keepAboveOwner(dialog, owner);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> QtUserDialogs::openFileName(QWidget* owner, const CommonDialog& dialog)
{
    if (headless())
        return std::nullopt;
    return runFileDialog(owner, dialog, QFileDialog::AcceptOpen);
}

std::optional<QString> QtUserDialogs::saveFileName(QWidget* owner, const CommonDialog& dialog)
{
    if (headless())
        return std::nullopt;
    return runFileDialog(owner, dialog, QFileDialog::AcceptSave);
}

void QtUserDialogs::exec(QDialog& dialog)
{
    // Nobody could close a modal window here: it is closed at once, as if cancelled.
    if (headless())
        return;
    keepAboveOwner(dialog, dialog.parentWidget());
    dialog.exec();
}
