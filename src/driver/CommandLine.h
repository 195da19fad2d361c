#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Splits a command line into words the way a POSIX shell does, and nothing more (users copy
// command lines from a shell): blanks (spaces, tabs) separate words; 'single quotes' keep
// everything as it is; "double quotes" keep everything except that a backslash before ", \, $
// or ` stands for that character; outside quotes a backslash keeps the next character as it
// is. Quoted and unquoted pieces next to each other make one word, and '' or "" is an empty
// word. Nothing is expanded ($, ~, *, | are ordinary characters). Nullopt, with the reason in
// `error`, for an unmatched quote or a backslash at the end.
std::optional<QStringList> splitCommandLine(const QString& line, QString* error = nullptr);
