#include "SingleInstanceLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QStandardPaths>

SingleInstanceLock::SingleInstanceLock(const QString& programFolder)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray key = QCryptographicHash::hash(QDir(programFolder).canonicalPath().toUtf8(),
                                                    QCryptographicHash::Sha1)
                               .toHex()
                               .left(16);
    m_path = QDir(folder).filePath(
        QStringLiteral("QuorinDriverServer-%1.lock").arg(QString::fromLatin1(key)));
}

bool SingleInstanceLock::tryLock()
{
    m_lock = std::make_unique<QLockFile>(m_path);
    // The holder keeps the lock for its whole run, so age says nothing: only a dead holder
    // makes it stale.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;
    m_lock.reset();
    return false;
}
