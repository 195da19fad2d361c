#include "InputFolderScanner.h"

#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>

std::optional<FileSignature> commandFileSignature(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isSymLink() || !info.isFile())
        return std::nullopt;
    return FileSignature{info.size(), info.lastModified()};
}

bool InputFolderScanner::isCommandFileName(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && name.mid(dot + 1).compare(QLatin1String("TXT"), Qt::CaseInsensitive) == 0;
}

InputFolderScanner::Listing InputFolderScanner::list(const QString& folder)
{
    Listing listing;
    QHash<QString, FileSignature> stillPassedOver;
    const QDateTime now = QDateTime::currentDateTimeUtc();

    // No QDir::System: FIFOs, sockets and devices stay out of the listing.
    QDirIterator it(folder, {QStringLiteral("*.txt")},
                    QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (!info.isFile() || info.isSymLink() || !isCommandFileName(info.fileName()))
            continue;
        const QString path = info.filePath();
        const FileSignature signature{info.size(), info.lastModified()};
        if (const auto known = m_passedOver.constFind(path); known != m_passedOver.cend()) {
            if (*known == signature) {
                stillPassedOver.insert(path, signature);
                continue;
            }
        }
        const qint64 age = signature.modified.toUTC().msecsTo(now);
        if (age >= 0 && age < m_settleMs) {
            ++listing.settling;
            const int wait = static_cast<int>(m_settleMs - age);
            listing.msUntilSettled = std::max(listing.msUntilSettled, wait);
            continue;
        }
        listing.ready.append(path);
    }
    m_passedOver.swap(stillPassedOver);

    std::sort(listing.ready.begin(), listing.ready.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return listing;
}

void InputFolderScanner::passOver(const QString& path)
{
    if (const auto signature = commandFileSignature(path))
        m_passedOver.insert(path, *signature);
}
