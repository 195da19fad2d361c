#pragma once

// Catalogue ids the program looks up by name (the English text is id + 1000).
namespace MessageId {
constexpr int RegisterOnPort = 510;
// The settings dialog's folder list and folder browser.
constexpr int FolderColumnName = 511;
constexpr int FolderColumnPath = 512;
constexpr int InputFolderRow = 513;
constexpr int UnsentFolderRow = 514;
constexpr int InputFolderBrowser = 515;
constexpr int UnsentFolderBrowser = 516;
constexpr int SecondInstance = 550;
constexpr int PortFailure = 551;
constexpr int Ready = 554;
constexpr int CoverOpen = 555;
constexpr int CoverClosed = 556;
constexpr int PaperOut = 557;
constexpr int PaperBack = 558;
constexpr int Busy = 559;
} // namespace MessageId
