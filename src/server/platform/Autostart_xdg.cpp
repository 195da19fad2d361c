#include "Autostart.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// An argument of Exec= quoted as the desktop entry rules say.
QString quoted(const QString& argument)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            out += u'\\';
        out += c;
    }
    // In a desktop file a backslash is itself escaped once more, and % starts a field code.
    out += u'"';
    return out.replace(u'\\', QLatin1String("\\\\")).replace(u'%', QLatin1String("%%"));
}

QString entryPath(const QString& programFolder)
{
    const QByteArray key = QCryptographicHash::hash(QDir(programFolder).absolutePath().toUtf8(),
                                                    QCryptographicHash::Sha1)
                               .toHex()
                               .left(10);
    const QString folder =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath(QStringLiteral("autostart"));
    return QDir(folder).filePath(
        QStringLiteral("QuorinDriverServer-%1.desktop").arg(QString::fromLatin1(key)));
}

} // namespace

AutostartResult setAutostart(bool on, const QString& executable, const QString& programFolder)
{
    const QString path = entryPath(programFolder);
    if (!on) {
        if (!QFile::exists(path))
            return {true, QStringLiteral("No start at login was set for %1.").arg(programFolder)};
        if (!QFile::remove(path))
            return {false, QStringLiteral("Cannot remove %1.").arg(path)};
        return {
            true,
            QStringLiteral("Removed %1: %2 no longer starts at login.").arg(path, programFolder)};
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString entry =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Quorin Driver Server\n"
                       "Comment=Sends command files to the cash register (%1)\n"
                       "Exec=%2 --folder %3\n"
                       // Skipped by desktops once the program is gone.
                       "TryExec=%4\n"
                       "Icon=quorindriverserver\n"
                       "StartupWMClass=QuorinDriverServer\n"
                       "Terminal=false\n"
                       "X-GNOME-Autostart-enabled=true\n")
            .arg(QString(programFolder).replace(u'\n', u' '), quoted(executable),
                 quoted(programFolder), QString(executable).replace(u'\\', QLatin1String("\\\\")));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit())
        return {false, QStringLiteral("Cannot write %1.").arg(path)};
    return {true, QStringLiteral("Wrote %1: %2 starts at login.").arg(path, programFolder)};
}
