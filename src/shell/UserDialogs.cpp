#include "UserDialogs.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>

bool QtUserDialogs::headless()
{
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

void QtUserDialogs::critical(QWidget* owner, const QString& title, const QString& text)
{
    if (headless()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
        std::fflush(stderr);
        return;
    }
    QMessageBox::critical(owner, title, text, QMessageBox::Ok);
}
