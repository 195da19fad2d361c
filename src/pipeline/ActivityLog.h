#pragma once

#include <QString>

// The size-bounded activity log. When the log has grown past the limit, the next line starts a
// new log and the old text is kept as one previous generation, "<log>.1".
class ActivityLog
{
public:
    ActivityLog(QString path, qint64 limitBytes);

    // Appends one line with CR LF. False when the log could not be written.
    bool append(const QString& line) const;

    const QString& path() const { return m_path; }
    QString previousGenerationPath() const { return m_path + QStringLiteral(".1"); }

private:
    QString m_path;
    qint64 m_limitBytes;
};
