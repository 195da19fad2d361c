#include "ModMain.h"

#include <QWidget>

bool SetTopMost(QWidget* window, bool onTop)
{
    if (!window)
        return false;
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
