#pragma once

#include <QTemporaryDir>
#include <QtGlobal>

// A temporary folder for one test (or one benchmark), removed with the object.
class TempFolder
{
public:
    TempFolder()
    {
        if (!m_dir.isValid())
            qFatal("no temporary folder: %s", qPrintable(m_dir.errorString()));
    }
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};
