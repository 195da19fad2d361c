#include "HeadlessStart.h"

#include <QByteArray>
#include <QtGlobal>
#include <cstdio>

void chooseOffscreenWithoutDisplay()
{
#if !defined(Q_OS_MACOS)
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    std::fputs("QuorinDriverServer: no display found, running without windows (offscreen)\n",
               stderr);
#endif
}
