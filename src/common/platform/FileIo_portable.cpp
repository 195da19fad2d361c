// File work with Qt alone, for systems without their own file layer here yet. It keeps the
// program working but gives weaker guarantees than a system layer: no flush to the disk beyond
// Qt's, links are detected by Qt rather than refused by the system, and names are the system's
// own (Unicode on Windows), so the stray-byte escape is not needed.
#include "DiskSteps.h"
#include "FileIo.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>
#include <utility>

bool flushToDisk(QFile& file)
{
    if (!file.flush())
        return false;
    noteDiskStep(DiskStep::FlushFile, file.fileName());
    return true;
}

bool writeAt(QFile& file, qint64 offset, const QByteArray& bytes)
{
    const qint64 position = file.pos();
    const bool ok = file.seek(offset) && file.write(bytes) == bytes.size() && file.flush();
    file.seek(position);
    if (ok)
        noteDiskStep(DiskStep::WriteInPlace, file.fileName(), bytes);
    return ok;
}

std::optional<qint64> modificationTimeNs(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    return info.lastModified().toMSecsSinceEpoch() * 1000000;
}

QString decodeFileName(const QByteArray& bytes)
{
    return QFile::decodeName(bytes);
}

QByteArray encodeFileName(const QString& name)
{
    return QFile::encodeName(name);
}

FileStatus fileStatus(const QString& path)
{
    FileStatus status;
    const QFileInfo info(path);
    if (info.isSymLink())
        status.type = FileStatus::Type::Link;
    else if (!info.exists())
        return status;
    else if (info.isDir())
        status.type = FileStatus::Type::Folder;
    else if (info.isFile())
        status.type = FileStatus::Type::Regular;
    else
        status.type = FileStatus::Type::Other;
    status.size = info.size();
    status.modifiedMs = info.lastModified().toMSecsSinceEpoch();
    status.ownerWritable = info.permission(QFileDevice::WriteOwner);
    return status;
}

std::optional<QStringList> folderEntries(const QString& folder)
{
    const QDir dir(folder);
    if (!dir.exists())
        return std::nullopt;
    return dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

std::unique_ptr<QFile> openRegularFileForReading(const QString& path)
{
    if (fileStatus(path).type != FileStatus::Type::Regular)
        return nullptr;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return nullptr;
    return file;
}

bool removeFile(const QString& path)
{
    if (!QFile::remove(path))
        return false;
    noteDiskStep(DiskStep::Remove, path);
    return true;
}

bool renameFile(const QString& from, const QString& to)
{
    // Qt does not rename over an existing file.
    QFile::remove(to);
    if (!QFile::rename(from, to))
        return false;
    noteDiskStep(DiskStep::Name, to, from.toUtf8());
    return true;
}

std::unique_ptr<QFile> openOwnFile(const QString& path, OwnFileMode mode)
{
    const FileStatus status = fileStatus(path);
    if (status.type != FileStatus::Type::Missing && status.type != FileStatus::Type::Regular) {
        if (!QFile::remove(path))
            return nullptr;
        qWarning("Replaced something that was not a plain file of ours: %s", qPrintable(path));
    }
    QIODevice::OpenMode qtMode;
    switch (mode) {
    case OwnFileMode::Append:
        qtMode = QIODevice::WriteOnly | QIODevice::Append;
        break;
    case OwnFileMode::ReadWrite:
        qtMode = QIODevice::ReadWrite;
        break;
    case OwnFileMode::Truncate:
        qtMode = QIODevice::WriteOnly | QIODevice::Truncate;
        break;
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(qtMode | QIODevice::Unbuffered))
        return nullptr;
    return file;
}

bool isStillAt(const QFile& file, const QString& path)
{
    return file.isOpen() && QFileInfo::exists(path);
}

LockResult tryLockExclusively(QFile& file)
{
    // Qt has no lock on an open file: one instance per input folder is not guarded here.
    return file.isOpen() ? LockResult::Locked : LockResult::Failed;
}

bool reserveSpace(QFile& file, qint64 bytes)
{
    return QStorageInfo(QFileInfo(file.fileName()).absolutePath()).bytesAvailable() >= bytes;
}

void releaseReservedSpace(QFile&) {}

bool flushFolder(const QString& folder)
{
    if (!QFileInfo(folder).isDir())
        return false;
    noteDiskStep(DiskStep::FlushFolder, folder);
    return true;
}

std::optional<FolderProblem> folderProblem(const QString& folder)
{
    const QFileInfo info(folder);
    if (!info.exists())
        return FolderProblem::Missing;
    if (!info.isDir())
        return FolderProblem::NotAFolder;
    if (!info.isWritable())
        return FolderProblem::NotWritable;
    return std::nullopt;
}

bool canFlushFilesystem()
{
    return false;
}

bool flushFilesystem(const QString&)
{
    return false;
}

struct AtomicFileWriter::Private
{
    QSaveFile file;
    bool committed = false;
};

AtomicFileWriter::AtomicFileWriter(QString path) : d(std::make_unique<Private>())
{
    d->file.setFileName(path);
}

AtomicFileWriter::~AtomicFileWriter() = default; // without commit(), QSaveFile discards

bool AtomicFileWriter::open()
{
    // QSaveFile writes through a link to its target: the link itself is replaced instead.
    if (fileStatus(d->file.fileName()).type == FileStatus::Type::Link)
        QFile::remove(d->file.fileName());
    // Unbuffered, so that a full disk fails the write itself rather than a later flush.
    return d->file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

// QSaveFile always makes its own temporary file.
bool AtomicFileWriter::openReusing(const QString& spare)
{
    QFile::remove(spare);
    return open();
}

bool AtomicFileWriter::write(const QByteArray& bytes)
{
    if (d->file.isOpen() && d->file.write(bytes) == bytes.size())
        return true;
    d->file.cancelWriting();
    return false;
}

bool AtomicFileWriter::commit()
{
    // QSaveFile flushes the temporary file before it takes the name.
    if (!d->file.isOpen() || !d->file.commit())
        return false;
    noteDiskStep(DiskStep::FlushFile, d->file.fileName());
    noteDiskStep(DiskStep::Name, d->file.fileName());
    return true;
}

// Qt alone has no flush of a whole disk: each file is flushed as it is committed.
bool AtomicFileWriter::closeUnflushed()
{
    d->committed = commit();
    return d->committed;
}

bool AtomicFileWriter::commitFlushed()
{
    return std::exchange(d->committed, false);
}
