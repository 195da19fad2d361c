#pragma once

#include "FolderWatcher.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// Identity of a file's content as far as the folder listing tells: a file that keeps its size
// and modification time is taken to be unchanged.
struct FileSignature
{
    qint64 size = -1;
    QDateTime modified;
    quint64 inode = 0; // 0 where the system does not tell
    bool operator==(const FileSignature&) const = default;
};

std::optional<FileSignature> commandFileSignature(const QString& path);

// Lists the command files of the input folder: regular files directly inside it whose extension
// is TXT in any letter case, sorted by name without regard to letter case, as producers saw them
// on the platform they were written for. Symbolic links, folders, FIFOs and sockets are never
// command files (opening a FIFO would block).
//
// With a folder watcher, the command files are also known from its events, so that a listing
// between two polling ticks costs what the command files cost, not what the whole folder does
// (leftover result files can number in the hundreds of thousands), and a file whose writer
// closed it is ready at once.
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

    // A file is complete when its writer closed it or renamed it in, or once it has been seen
    // with the same size, time and inode for settleMs by the program's own steady clock: a
    // file's date comes from its writer's clock, and proves nothing.
    explicit InputFolderScanner(int settleMs = 1000);
    // The steady clock, in ms (tests give their own).
    void setSteadyClock(std::function<qint64()> nowMs) { m_steadyMs = std::move(nowMs); }

    // Reads the folder itself.
    Listing list(const QString& folder);
    // The same answer from the watcher's events when they can be trusted, else list().
    Listing listFromEvents(const QString& folder);
    // The polling tick's listing: reads the folder, unless the watcher can be trusted and the
    // folder shows no change since it was last read (then the events say all). The folder is
    // read at least once a minute whatever it shows.
    Listing listOnTimer(const QString& folder);
    // How many times the folder itself was read.
    int folderReads() const { return m_folderReads; }

    void setWatcher(std::unique_ptr<FolderWatcher> watcher);
    FolderWatcher* watcher() const { return m_watcher.get(); }
    // Watches the folder (again); false without a watcher or when the folder cannot be watched.
    bool watch(const QString& folder);

    // A file whose writer is known to have closed it: ready at once, as long as it stays so.
    void markComplete(const QString& path);

    // The file is not offered again until it changes: its size, time, inode or content (a
    // writer may put the next sale over it with the same size and keep the time).
    void passOver(const QString& path);
    // The same for a file known from the recovery record, with the digest of its content as
    // recorded (empty in records of earlier versions: size, time and inode then decide alone).
    void passOver(const QString& path, const FileSignature& signature, const QByteArray& digest);
    // The files passed over that are still there unchanged, as of the last listing.
    const QHash<QString, FileSignature>& passedOver() const { return m_passedOver; }
    QByteArray passedOverDigest(const QString& path) const;

    // SHA-256 of a file's content, in hex; empty when it cannot be read.
    static QByteArray contentDigest(const QString& path);

    static bool isCommandFileName(const QString& name);

private:
    void takeWatcherEvents();
    // A passed-over file whose signature is unchanged still holds what was sent.
    bool sameContent(const QString& path) const;
    void forgetContentOfChangedFiles();
    Listing listKnown(const QString& folder);
    // When a file was first seen as it is now.
    struct Sighting
    {
        FileSignature signature;
        qint64 sinceMs = 0;
    };
    struct Seen
    {
        QHash<QString, FileSignature> passedOver;
        QHash<QString, Sighting> sightings;
    };
    void classify(const QString& path, const QString& name, const FileSignature& signature,
                  qint64 nowMs, Listing& listing, Seen& seen) const;
    static void sortReady(Listing& listing);

    int m_settleMs;
    std::function<qint64()> m_steadyMs;
    QHash<QString, FileSignature> m_passedOver;
    // What a passed-over file held, and its change time when that was last checked (the
    // content is read again only when that time moved, or where the system has none).
    struct Content
    {
        QByteArray digest;
        qint64 checkedChangeNs = 0;
    };
    mutable QHash<QString, Content> m_passedContent;
    QHash<QString, Sighting> m_sightings;

    std::unique_ptr<FolderWatcher> m_watcher;
    QString m_watchedFolder;
    // The command file names of m_watchedFolder, kept up to date by the watcher since the last
    // full listing; only trusted while m_knownValid.
    QSet<QString> m_known;
    bool m_knownValid = false;
    // Files closed by their writer (or moved in), as they were then: ready without settling.
    QHash<QString, FileSignature> m_completed;

    // The folder's modification time (ns) when it was last read, and when that was (ms).
    std::optional<qint64> m_folderModifiedNs;
    qint64 m_folderReadAtMs = 0;
    int m_folderReads = 0;
};
