#pragma once

#include <QtGlobal>

// Result codes that the program itself tells apart; each is also a catalogue id.
namespace ResultCode {
constexpr qint32 BufferOverflow = 30;
constexpr qint32 ExtendedError = 114; // logged with the driver's extended result
constexpr qint32 SerialPortError = 203;
constexpr qint32 CannotSend = 553;
constexpr qint32 ClosedDevice = 561;
constexpr qint32 CannotPerform = 571;
constexpr qint32 NoAnswer = 572;
constexpr qint32 SpecificError = 574; // with extended result CoverOpen: the cover is open
constexpr qint32 NoSuchValue = 575;
constexpr qint32 CoverOpen = 581;
} // namespace ResultCode
