#pragma once

#include <QtGlobal>

// The states a register reports with StatusUpdate: the fiscal printer's codes for its cover
// and paper, and the driver's own busy and idle reports.
namespace RegisterState {
constexpr qint32 CoverOpen = 11;
constexpr qint32 CoverClosed = 12;
constexpr qint32 PaperOut = 24;
constexpr qint32 PaperBack = 26;
constexpr qint32 Busy = 30;
constexpr qint32 Idle = 1001;
} // namespace RegisterState
