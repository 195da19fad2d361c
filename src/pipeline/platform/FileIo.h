#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

class QFile;

// Waits until what was written to the open file is on the disk itself, not only in the
// system's cache, so that it outlives a power cut. False if the system says it is not.
bool flushToDisk(QFile& file);

// Writes the bytes at the offset of the open file in one call, without moving its position.
bool writeAt(QFile& file, qint64 offset, const QByteArray& bytes);

// The modification time of a file or folder in nanoseconds since the epoch, read without any
// time-zone work (cheap enough for every polling tick); nothing if it cannot be read.
std::optional<qint64> modificationTimeNs(const QString& path);
