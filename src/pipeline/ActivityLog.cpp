#include "ActivityLog.h"

#include "AtomicFile.h"
#include "TextLines.h"

#include <QFile>
#include <QFileInfo>

ActivityLog::ActivityLog(QString path, qint64 limitBytes)
    : m_path(std::move(path)), m_limitBytes(limitBytes)
{
}

bool ActivityLog::append(const QString& line) const
{
    // A log of exactly the limit is still appended to (a missing log has size 0).
    if (QFileInfo(m_path).size() > m_limitBytes) {
        const QString previous = previousGenerationPath();
        QFile::remove(previous);
        // If the rename fails, emptying the log still keeps it bounded.
        if (!QFile::rename(m_path, previous)) {
            QFile file(m_path);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return false;
        }
    }
    return appendToFile(m_path, textLine(line));
}
