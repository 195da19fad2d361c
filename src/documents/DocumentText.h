#pragma once

#include <QString>
#include <optional>

// How the editor shows a configuration document: its lines joined by line breaks, with the
// empty lines at the very start dropped. Nothing when the file cannot be read.
std::optional<QString> loadDocumentText(const QString& path);

// What is written when the text is saved: its lines, each ended by CR LF, in Windows-1252.
QByteArray documentBytes(const QString& text);

// Writes the text so that a failure never leaves a half-written document.
bool saveDocumentText(const QString& path, const QString& text);

// Appends one empty line to the document, creating it when missing.
bool appendEmptyLine(const QString& path);
