#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <memory>
#include <optional>

#include <QFile>

// Waits until what was written to the open file is on the disk itself, not only in the
// system's cache, so that it outlives a power cut. False if the system says it is not.
bool flushToDisk(QFile& file);

// Writes the bytes at the offset of the open file in one call, without moving its position.
bool writeAt(QFile& file, qint64 offset, const QByteArray& bytes);

// The modification time of a file or folder in nanoseconds since the epoch, read without any
// time-zone work (cheap enough for every polling tick); nothing if it cannot be read.
std::optional<qint64> modificationTimeNs(const QString& path);

// Names on disk are bytes, whatever the system's encoding. A name that is not valid UTF-8 keeps
// each stray byte as a lone surrogate (U+DC80 to U+DCFF), so that it survives a QString and
// comes back byte for byte. Paths handled with these functions must not go through Qt's own
// file classes, which would lose those bytes.
QString decodeFileName(const QByteArray& bytes);
QByteArray encodeFileName(const QString& name);

// What a path names, without following a symbolic link.
struct FileStatus
{
    enum class Type { Missing, Regular, Link, Folder, Other };
    Type type = Type::Missing;
    qint64 size = 0;
    qint64 modifiedMs = 0;
    bool ownerWritable = false;
    quint64 inode = 0; // with the device: which file it is, whatever its name
    // When the file's content or attributes last changed (ns), as no writer can set it; 0 where
    // the system does not tell.
    qint64 changeNs = 0;
};
FileStatus fileStatus(const QString& path);

// The names in a folder (without "." and ".."); nothing when it cannot be read.
std::optional<QStringList> folderEntries(const QString& folder);

// Opens a regular file for reading; never through a symbolic link, never blocks (a FIFO is not
// a file). nullptr when it cannot be opened.
std::unique_ptr<QFile> openRegularFileForReading(const QString& path);

bool removeFile(const QString& path);
// Renames, replacing what the new name held (a link there is replaced, not followed).
bool renameFile(const QString& from, const QString& to);

// How a file of the program's own is opened for writing.
enum class OwnFileMode { Append, ReadWrite, Truncate };
// Opens or creates a file that the program writes in a folder others may write too. A symbolic
// link, FIFO, hard link or anything but a plain file of ours at that path is never written
// through: it is removed and replaced by a new empty file (and reported on standard error).
std::unique_ptr<QFile> openOwnFile(const QString& path, OwnFileMode mode);

// Whether the open file is still the one the path names (the folder may have been deleted and
// made again since it was opened).
bool isStillAt(const QFile& file, const QString& path);

// An exclusive lock on an open file, held until the file is closed; the system drops it when
// the process ends, however it ends, so a dead holder never keeps it and what the file holds
// says nothing. HeldElsewhere: another open of the file (another process) holds it.
enum class LockResult { Locked, HeldElsewhere, Failed };
LockResult tryLockExclusively(QFile& file);

// Makes sure the file has room to grow by `bytes` beyond its end without the disk filling
// under it (the blocks are allocated, the size stays); false when the disk has no such room.
bool reserveSpace(QFile& file, qint64 bytes);
// Gives the room reserved beyond the file's end back to the disk.
void releaseReservedSpace(QFile& file);

// Flushes a folder's entries (files created, renamed or deleted in it) to the disk.
bool flushFolder(const QString& folder);

// Flushes everything written to the file system that holds the folder (contents, names, sizes)
// to the disk in one step. canFlushFilesystem() says whether the system has such a step;
// flushFilesystem() is false where it has not, or when the flush failed.
bool canFlushFilesystem();
bool flushFilesystem(const QString& folder);

// Why the program cannot make and remove files in the folder: nothing when it can.
enum class FolderProblem { Missing, NotAFolder, NotWritable };
std::optional<FolderProblem> folderProblem(const QString& folder);

// Writes a file in one step: a new temporary file beside it, flushed to the disk, is renamed
// over the path. A reader, a crash or a power cut never sees it half written, and a link at the
// path is replaced rather than followed.
class AtomicFileWriter
{
public:
    explicit AtomicFileWriter(QString path);
    ~AtomicFileWriter(); // without commit(), the temporary file goes
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool open();
    // Like open(), but writes over `spare`, a file of the program's own in the same folder that
    // is no longer needed, instead of making a new one: on some file systems making a file costs
    // more than all the rest. A new file is made when the spare is not a plain file of ours
    // alone; the spare's name is gone either way once the writer is done.
    bool openReusing(const QString& spare);
    bool write(const QByteArray& bytes);
    bool commit();

    // Several files for one flush of the disk: closeUnflushed() ends the writing without
    // flushing; once the caller has flushed the file system (flushFilesystem), commitFlushed()
    // gives the file its name. Without commitFlushed() the temporary file goes.
    bool closeUnflushed();
    bool commitFlushed();

private:
    struct Private; // what the system's files need
    std::unique_ptr<Private> d;
};
