#pragma once

#include "common/platform/DiskSteps.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

// Records the file layer's flushes and names while alive, as "<step> <path>" with paths relative
// to a folder, so that a test can check that a flush comes before the step that relies on it.
class DiskStepLog
{
public:
    explicit DiskStepLog(QString folder) : m_folder(std::move(folder))
    {
        setDiskStepObserver([this](DiskStep step, const QString& path, const QByteArray& detail) {
            static const char* const names[] = {"FlushFile", "FlushFolder", "FlushFilesystem",
                                                "Name",      "Remove",      "WriteInPlace"};
            QString shown = path.startsWith(m_folder) ? path.mid(m_folder.size())
                            : path + u'/' == m_folder ? QString()
                                                      : path;
            if (shown.isEmpty())
                shown = QStringLiteral(".");
            QString entry = QLatin1String(names[int(step)]) + u' ' + shown;
            if (step == DiskStep::WriteInPlace && detail.size() <= 2)
                entry += u' ' + QString::fromLatin1(detail);
            m_steps.append(entry);
        });
    }
    ~DiskStepLog() { setDiskStepObserver({}); }
    DiskStepLog(const DiskStepLog&) = delete;
    DiskStepLog& operator=(const DiskStepLog&) = delete;

    const QStringList& steps() const { return m_steps; }
    void clear() { m_steps.clear(); }
    // Where the first step matching the pattern (a regular expression) is; -1 if none.
    qsizetype first(const QString& pattern) const
    {
        return m_steps.indexOf(QRegularExpression(QStringLiteral("^(") + pattern + u')' + u'$'));
    }

private:
    QString m_folder;
    QStringList m_steps;
};
