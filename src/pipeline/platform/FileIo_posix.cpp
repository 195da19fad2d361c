#include "FileIo.h"

#include <QFile>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

bool flushToDisk(QFile& file)
{
    if (!file.flush())
        return false;
    const int fd = file.handle();
    if (fd < 0)
        return false;
    // The data and what is needed to read it back (the size); the times can wait.
    int result;
    do {
        result = ::fdatasync(fd);
    } while (result != 0 && errno == EINTR);
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
    return qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}
