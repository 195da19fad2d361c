#include "DiskSteps.h"
#include "FileIo.h"
#include "PosixCalls.h"

#include <QFile>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace posix_io {

int retryOnInterrupt(const std::function<int()>& call)
{
    int result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

// What was written through the descriptor, and what is needed to read it back, reaches the disk.
bool syncDescriptor(int fd, bool wholeInode)
{
#ifdef __APPLE__
    // fsync there only reaches the drive's cache; F_FULLFSYNC reaches the disk.
    (void)wholeInode;
    return retryOnInterrupt([&] { return ::fcntl(fd, F_FULLFSYNC); }) == 0;
#else
    // A folder needs fsync; for a file's data and size fdatasync is enough (the times can wait).
    return retryOnInterrupt([&] { return wholeInode ? ::fsync(fd) : ::fdatasync(fd); }) == 0;
#endif
}

int openNoFollow(const QByteArray& name, int flags)
{
    return retryOnInterrupt([&] {
        return ::open(name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    });
}

int openFolder(const QString& folder)
{
    return retryOnInterrupt([&] {
        return ::open(encodeFileName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    });
}

} // namespace posix_io

using namespace posix_io;

namespace {

timespec modificationTime(const struct stat& info)
{
#ifdef __APPLE__
    return info.st_mtimespec;
#else
    return info.st_mtim;
#endif
}

// Length of the valid UTF-8 sequence at the start of s (n bytes), 0 if there is none. Overlong
// forms and surrogates are not valid: their bytes are kept as stray bytes.
int utf8SequenceLength(const unsigned char* s, qsizetype n, char32_t& code)
{
    const unsigned char b = s[0];
    int length;
    char32_t min;
    if (b < 0x80) {
        code = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        length = 2, code = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        length = 3, code = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        length = 4, code = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (n < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (s[i] & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

void appendUtf8(QByteArray& out, char32_t c)
{
    if (c < 0x80) {
        out.append(static_cast<char>(c));
    } else if (c < 0x800) {
        out.append(static_cast<char>(0xC0 | (c >> 6)));
        out.append(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(static_cast<char>(0xE0 | (c >> 12)));
        out.append(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.append(static_cast<char>(0xF0 | (c >> 18)));
        out.append(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.append(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool isPlainFileOfOurs(int fd)
{
    struct stat info;
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1;
}

std::unique_ptr<QFile> wrap(int fd, const QString& path, QIODevice::OpenMode mode)
{
    // The path is only for messages; the file is the descriptor (a file opened by its
    // descriptor has no name of its own in Qt: the object keeps it).
    auto file = std::make_unique<QFile>(path);
    if (!file->open(fd, mode | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    file->setObjectName(path);
    return file;
}

QString nameOf(const QFile& file)
{
    return file.fileName().isEmpty() ? file.objectName() : file.fileName();
}

} // namespace

bool flushToDisk(QFile& file)
{
    if (!file.flush())
        return false;
    const int fd = file.handle();
    if (fd < 0 || !syncDescriptor(fd, false))
        return false;
    noteDiskStep(DiskStep::FlushFile, nameOf(file));
    return true;
}

bool writeAt(QFile& file, qint64 offset, const QByteArray& bytes)
{
    const int fd = file.handle();
    if (fd < 0)
        return false;
    ssize_t written;
    do {
        written = ::pwrite(fd, bytes.constData(), static_cast<size_t>(bytes.size()), offset);
    } while (written < 0 && errno == EINTR);
    if (written != bytes.size())
        return false;
    noteDiskStep(DiskStep::WriteInPlace, nameOf(file), bytes);
    return true;
}

std::optional<qint64> modificationTimeNs(const QString& path)
{
    struct stat info;
    if (::stat(encodeFileName(path).constData(), &info) != 0)
        return std::nullopt;
    const timespec modified = modificationTime(info);
    return qint64(modified.tv_sec) * 1000000000 + modified.tv_nsec;
}

QString decodeFileName(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t code;
        const int length = utf8SequenceLength(s + i, bytes.size() - i, code);
        if (length == 0) {
            out.append(QChar(char16_t(0xDC00 + s[i])));
            ++i;
            continue;
        }
        if (code < 0x10000) {
            out.append(QChar(char16_t(code)));
        } else {
            out.append(QChar::highSurrogate(code));
            out.append(QChar::lowSurrogate(code));
        }
        i += length;
    }
    return out;
}

QByteArray encodeFileName(const QString& name)
{
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            appendUtf8(out, QChar::surrogateToUcs4(c, name[i + 1].unicode()));
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out.append(static_cast<char>(c - 0xDC00));
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

FileStatus fileStatus(const QString& path)
{
    FileStatus status;
    struct stat info;
    if (::lstat(encodeFileName(path).constData(), &info) != 0)
        return status;
    if (S_ISREG(info.st_mode))
        status.type = FileStatus::Type::Regular;
    else if (S_ISLNK(info.st_mode))
        status.type = FileStatus::Type::Link;
    else if (S_ISDIR(info.st_mode))
        status.type = FileStatus::Type::Folder;
    else
        status.type = FileStatus::Type::Other;
    status.size = info.st_size;
    const timespec modified = modificationTime(info);
    status.modifiedMs = qint64(modified.tv_sec) * 1000 + modified.tv_nsec / 1000000;
    status.ownerWritable = (info.st_mode & S_IWUSR) != 0;
    status.inode = info.st_ino;
    status.changeNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return status;
}

std::optional<QStringList> folderEntries(const QString& folder)
{
    DIR* dir = ::opendir(encodeFileName(folder).constData());
    if (!dir)
        return std::nullopt;
    QStringList names;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        names.append(decodeFileName(QByteArray(name)));
    }
    ::closedir(dir);
    return names;
}

std::unique_ptr<QFile> openRegularFileForReading(const QString& path)
{
    const int fd = openNoFollow(encodeFileName(path), O_RDONLY);
    if (fd < 0)
        return nullptr;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    // Reads block again, as on any file.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return wrap(fd, path, QIODevice::ReadOnly);
}

bool removeFile(const QString& path)
{
    if (::unlink(encodeFileName(path).constData()) != 0)
        return false;
    noteDiskStep(DiskStep::Remove, path);
    return true;
}

bool renameFile(const QString& from, const QString& to)
{
    if (::rename(encodeFileName(from).constData(), encodeFileName(to).constData()) != 0)
        return false;
    noteDiskStep(DiskStep::Name, to, encodeFileName(from));
    return true;
}

std::unique_ptr<QFile> openOwnFile(const QString& path, OwnFileMode mode)
{
    const QByteArray name = encodeFileName(path);
    int flags = O_CREAT;
    QIODevice::OpenMode qtMode;
    switch (mode) {
    case OwnFileMode::Append:
        flags |= O_WRONLY | O_APPEND;
        qtMode = QIODevice::WriteOnly | QIODevice::Append;
        break;
    case OwnFileMode::ReadWrite:
        flags |= O_RDWR;
        qtMode = QIODevice::ReadWrite;
        break;
    case OwnFileMode::Truncate:
        flags |= O_WRONLY | O_TRUNC;
        qtMode = QIODevice::WriteOnly;
        break;
    }
    int fd = openNoFollow(name, flags);
    if (fd >= 0 && !isPlainFileOfOurs(fd)) {
        ::close(fd);
        fd = -1;
        errno = ELOOP;
    }
    // ELOOP: a link; ENXIO: a FIFO nobody reads; EISDIR and others are real failures.
    if (fd < 0 && (errno == ELOOP || errno == ENXIO || errno == EMLINK)) {
        if (::unlink(name.constData()) != 0)
            return nullptr;
        qWarning("Replaced something that was not a plain file of ours: %s", name.constData());
        fd = openNoFollow(name, flags | O_EXCL);
    }
    if (fd < 0)
        return nullptr;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return wrap(fd, path, qtMode);
}

bool isStillAt(const QFile& file, const QString& path)
{
    struct stat open, named;
    return file.handle() >= 0 && ::fstat(file.handle(), &open) == 0 && open.st_nlink > 0 &&
           ::lstat(encodeFileName(path).constData(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

LockResult tryLockExclusively(QFile& file)
{
    if (file.handle() < 0)
        return LockResult::Failed;
    if (retryOnInterrupt([&] { return ::flock(file.handle(), LOCK_EX | LOCK_NB); }) == 0)
        return LockResult::Locked;
    return errno == EWOULDBLOCK ? LockResult::HeldElsewhere : LockResult::Failed;
}

bool reserveSpace(QFile& file, qint64 bytes)
{
    const int fd = file.handle();
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0)
        return false;
#ifdef __linux__
    const int result = retryOnInterrupt(
        [&] { return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, info.st_size + bytes); });
    if (result == 0)
        return true;
    if (errno == ENOSPC || errno == EDQUOT)
        return false;
#endif
    // Where the file system cannot allocate ahead (a share, FUSE), the free space is the best
    // guess there is.
    struct statvfs disk;
    return ::fstatvfs(fd, &disk) == 0 && qint64(disk.f_bavail) * qint64(disk.f_frsize) >= bytes;
}

void releaseReservedSpace(QFile& file)
{
    struct stat info;
    // Truncating to its own size frees what was allocated beyond the end.
    if (file.handle() >= 0 && ::fstat(file.handle(), &info) == 0)
        retryOnInterrupt([&] { return ::ftruncate(file.handle(), info.st_size); });
}

bool flushFolder(const QString& folder)
{
    const int fd = openFolder(folder);
    if (fd < 0)
        return false;
    const bool ok = syncDescriptor(fd, true);
    ::close(fd);
    if (ok)
        noteDiskStep(DiskStep::FlushFolder, folder);
    return ok;
}

std::optional<FolderProblem> folderProblem(const QString& folder)
{
    const QByteArray name = encodeFileName(folder);
    struct stat info;
    if (::stat(name.constData(), &info) != 0)
        return FolderProblem::Missing;
    if (!S_ISDIR(info.st_mode))
        return FolderProblem::NotAFolder;
    if (::access(name.constData(), W_OK | X_OK) != 0)
        return FolderProblem::NotWritable;
    return std::nullopt;
}
