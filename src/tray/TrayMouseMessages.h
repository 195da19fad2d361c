#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The notification-area icon reports mouse actions as the classic mouse-message numbers
// 0x200..0x209; this maps a number to the event the icon raises.
enum class TrayEvent { MouseMove, MouseDown, MouseUp, DoubleClick };

struct TrayMouseAction
{
    TrayEvent event;
    int button; // 0 left, 1 right, 2 middle; 0 for MouseMove (which has none)
};

namespace TrayMessage {
constexpr int Move = 0x200;
constexpr int LeftDown = 0x201;
constexpr int LeftUp = 0x202;
constexpr int LeftDoubleClick = 0x203;
constexpr int RightDown = 0x204;
constexpr int RightUp = 0x205;
constexpr int RightDoubleClick = 0x206;
constexpr int MiddleDown = 0x207;
constexpr int MiddleUp = 0x208;
constexpr int MiddleDoubleClick = 0x209;
} // namespace TrayMessage

std::optional<TrayMouseAction> trayActionForMessage(int message);
