#include "ActivityLog.h"

#include "common/AtomicFile.h"
#include "common/TextLines.h"
#include "common/platform/FileIo.h"

ActivityLog::ActivityLog(QString path, qint64 limitBytes)
    : m_path(std::move(path)), m_limitBytes(limitBytes)
{
}

bool ActivityLog::append(const QString& line) const
{
    // A log of exactly the limit is still appended to (a missing log has size 0).
    // Looked at, renamed and emptied without following a link: someone who may write the
    // folder must not get the log written, or emptied, elsewhere.
    const FileStatus status = fileStatus(m_path);
    if (status.type == FileStatus::Type::Regular && status.size > m_limitBytes) {
        // If the rename fails, emptying the log still keeps it bounded.
        if (!renameFile(m_path, previousGenerationPath()) &&
            !openOwnFile(m_path, OwnFileMode::Truncate))
            return false;
    }
    return appendToFile(m_path, textLine(line));
}
