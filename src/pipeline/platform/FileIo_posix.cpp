#include "FileIo.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool flushToDisk(QFile& file)
{
    if (!file.flush())
        return false;
    const int fd = file.handle();
    if (fd < 0)
        return false;
    int result;
#ifdef __APPLE__
    // fsync there only reaches the drive's cache; F_FULLFSYNC reaches the disk.
    do {
        result = ::fcntl(fd, F_FULLFSYNC);
    } while (result != 0 && errno == EINTR);
#else
    // The data and what is needed to read it back (the size); the times can wait.
    do {
        result = ::fdatasync(fd);
    } while (result != 0 && errno == EINTR);
#endif
    return result == 0;
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
    return written == bytes.size();
}

std::optional<qint64> modificationTimeNs(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
#ifdef __APPLE__
    const timespec& modified = info.st_mtimespec;
#else
    const timespec& modified = info.st_mtim;
#endif
    return qint64(modified.tv_sec) * 1000000000 + modified.tv_nsec;
}
