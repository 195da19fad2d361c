#include "ProgramFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

bool isSystemProgramFolder(const QString& folder)
{
    const QString path = QDir::cleanPath(folder);
    for (const char* root : {"/usr", "/bin", "/sbin"}) {
        const QString r = QLatin1String(root);
        if (path == r || path.startsWith(r + QLatin1Char('/')))
            return true;
    }
    return false;
}

} // namespace

ProgramFolderChoice chooseProgramFolder(const QString& given, const QString& executableFolder,
                                        const QString& perUserFolder)
{
    if (!given.isEmpty())
        return {QDir(given).absolutePath(), ProgramFolderChoice::Reason::Given};
    if (isSystemProgramFolder(executableFolder))
        return {perUserFolder, ProgramFolderChoice::Reason::PerUser};
    return {executableFolder, ProgramFolderChoice::Reason::BesideExecutable};
}

QString defaultPerUserFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("QuorinDriverServer"));
}

bool makeProgramFolder(const QString& folder)
{
    return QDir().mkpath(folder) && QFileInfo(folder).isDir();
}
