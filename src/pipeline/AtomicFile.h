#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file's content in one step (a temporary file in the same folder renamed over
// it), so that a reader never sees, and a failure never leaves, a half-written file.
bool writeFileAtomically(const QString& path, const QByteArray& bytes);

// Appends bytes and makes sure they reached the file (a full disk is reported, not ignored).
bool appendToFile(const QString& path, const QByteArray& bytes);
