#include "SingleInstanceLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QStandardPaths>

QString SingleInstanceLock::pathFor(const QString& programFolder)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray key = QCryptographicHash::hash(QDir(programFolder).canonicalPath().toUtf8(),
                                                    QCryptographicHash::Sha1)
                               .toHex()
                               .left(16);
    return QDir(folder).filePath(
        QStringLiteral("QuorinDriverServer-%1.lock").arg(QString::fromLatin1(key)));
}
