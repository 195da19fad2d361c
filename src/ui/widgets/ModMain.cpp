#include "ModMain.h"

#include <QApplication>
#include <QWidget>

namespace {

void restore(QWidget* window)
{
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
}

} // namespace

bool SetTopMost(QWidget* window, bool onTop)
{
    if (!window)
        return false;
    restore(window);
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop) {
        const bool visible = window->isVisible();
        const QPoint pos = window->pos();
        // Changing the flags re-creates the native window, which hides it.
        window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        window->move(pos);
        if (visible)
            window->show();
    }
    window->raise();
    window->activateWindow();
    return true;
}

void bringForward(QWidget* window)
{
    restore(window);
    window->show();
    window->raise();
    window->activateWindow();
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == window)
        return;
    restore(modal);
    modal->show();
    modal->raise();
    modal->activateWindow();
}

void keepAboveOwner(QWidget& window, const QWidget* owner)
{
    if (owner && owner->window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        window.setWindowFlag(Qt::WindowStaysOnTopHint, true);
}
