#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

// Identity of a file's content as far as the folder listing tells: a file that keeps its size
// and modification time is taken to be unchanged.
struct FileSignature
{
    qint64 size = -1;
    QDateTime modified;
    bool operator==(const FileSignature&) const = default;
};

std::optional<FileSignature> commandFileSignature(const QString& path);

// Lists the command files of the input folder: regular files directly inside it whose extension
// is TXT in any letter case, sorted by name without regard to letter case, as producers saw them
// on the platform they were written for. Symbolic links, folders, FIFOs and sockets are never
// command files (opening a FIFO would block).
class InputFolderScanner
{
public:
    struct Listing
    {
        QStringList ready;
        // Files modified so recently that their writer may still be at work, and how long until
        // the youngest of them has settled.
        int settling = 0;
        int msUntilSettled = 0;
    };

    explicit InputFolderScanner(int settleMs = 1000) : m_settleMs(settleMs) {}

    Listing list(const QString& folder);

    // The file is not offered again until its size or modification time changes.
    void passOver(const QString& path);

    static bool isCommandFileName(const QString& name);

private:
    int m_settleMs;
    QHash<QString, FileSignature> m_passedOver;
};
