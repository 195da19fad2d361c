#include "TrayMouseMessages.h"

std::optional<TrayMouseAction> trayActionForMessage(int message)
{
    if (message == TrayMessage::Move)
        return TrayMouseAction{TrayEvent::MouseMove, 0};
    if (message < TrayMessage::LeftDown || message > TrayMessage::MiddleDoubleClick)
        return std::nullopt;
    // Three messages per button: down, up, double click.
    const int offset = message - TrayMessage::LeftDown;
    constexpr TrayEvent kinds[] = {TrayEvent::MouseDown, TrayEvent::MouseUp,
                                   TrayEvent::DoubleClick};
    return TrayMouseAction{kinds[offset % 3], offset / 3};
}
