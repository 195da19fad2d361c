#include "AtomicFile.h"

#include <QFile>
#include <QSaveFile>

bool writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    // Unbuffered: with a buffer, a write that fails for lack of space is only seen when the
    // buffer is flushed, and this Qt's commit() would then rename an incomplete file into place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool appendToFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    const qint64 before = file.pos();
    if (file.write(bytes) == bytes.size())
        return true;
    // An empty file (most likely made just now) would look like a verdict with nothing in it.
    if (before == 0 && file.size() == 0)
        file.remove();
    return false;
}
