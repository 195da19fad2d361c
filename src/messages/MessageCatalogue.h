#pragma once

#include <QString>
#include <optional>

// The program's title: message boxes, the notification-area icon's tooltip.
inline const QString kProgramTitle = QStringLiteral("Quorin Server - ORVEK S.P.A.");

// Id of the generic error text that stands in for a result code without a usable text.
inline constexpr int kGenericErrorId = 70;

// The catalogue text of exactly this id; no text when the id has no entry.
std::optional<QString> MessageText(int id);

// Text of Italian id N in the language of the offset, for the fixed ids that exist in both
// languages.
QString LocalisedText(int languageOffset, int id);

// Text of a result code in the language of the offset. Register codes have no English text, and
// some codes have no entry at all: the Italian text of the code stands in, then the generic error
// text, so a verdict is never left without a message.
QString ResultCodeText(int languageOffset, int code);
