#pragma once

// Catalogue ids the program looks up by name (the English text is id + 1000).
namespace MessageId {
constexpr int RegisterOnPort = 510;
constexpr int SecondInstance = 550;
constexpr int PortFailure = 551;
constexpr int Ready = 554;
constexpr int CoverOpen = 555;
constexpr int CoverClosed = 556;
constexpr int PaperOut = 557;
constexpr int PaperBack = 558;
constexpr int Busy = 559;
} // namespace MessageId
