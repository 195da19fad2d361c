#pragma once

#include <QByteArray>
#include <QtGlobal>

class QFile;

// Waits until what was written to the open file is on the disk itself, not only in the
// system's cache, so that it outlives a power cut. False if the system says it is not.
bool flushToDisk(QFile& file);

// Writes the bytes at the offset of the open file in one call, without moving its position.
bool writeAt(QFile& file, qint64 offset, const QByteArray& bytes);
