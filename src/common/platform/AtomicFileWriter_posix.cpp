#include "DiskSteps.h"
#include "FileIo.h"
#include "PosixCalls.h"

#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace posix_io;

bool canFlushFilesystem()
{
#ifdef __linux__
    return true;
#else
    return false;
#endif
}

bool flushFilesystem(const QString& folder)
{
#ifdef __linux__
    const int fd = openFolder(folder);
    if (fd < 0)
        return false;
    // Since Linux 5.8 a failed write-back is reported here too.
    const bool ok = retryOnInterrupt([&] { return ::syncfs(fd); }) == 0;
    ::close(fd);
    if (ok)
        noteDiskStep(DiskStep::FlushFilesystem, folder);
    return ok;
#else
    (void)folder;
    return false;
#endif
}

struct AtomicFileWriter::Private
{
    QString path;
    QByteArray tempName;
    int fd = -1;
    bool failed = false;
    bool closed = false; // written and closed, not yet named

    void discard()
    {
        if (fd >= 0)
            ::close(fd);
        if (fd >= 0 || closed)
            ::unlink(tempName.constData());
        fd = -1;
        closed = false;
    }

    bool close(bool flush)
    {
        if (fd < 0 || failed) {
            discard();
            return false;
        }
        const int written = std::exchange(fd, -1);
        const bool synced = !flush || syncDescriptor(written, false);
        if (::close(written) != 0 || !synced) {
            ::unlink(tempName.constData());
            return false;
        }
        closed = true;
        if (flush)
            noteDiskStep(DiskStep::FlushFile, decodeFileName(tempName));
        return true;
    }
};

AtomicFileWriter::AtomicFileWriter(QString path) : d(std::make_unique<Private>())
{
    d->path = std::move(path);
}

AtomicFileWriter::~AtomicFileWriter()
{
    d->discard();
}

bool AtomicFileWriter::open()
{
    const QByteArray target = encodeFileName(d->path);
    const QByteArray folder = target.left(target.lastIndexOf('/') + 1);
    for (int attempt = 0; attempt < 100 && d->fd < 0; ++attempt) {
        // Short (the final name may already be as long as a name can be), never the name of an
        // existing file (O_EXCL), never one that ends in ".TXT".
        d->tempName = folder + ".qds-" +
                      QByteArray::number(QRandomGenerator::global()->generate() & 0xFFFFFF, 36) +
                      ".tmp";
        d->fd = openNoFollow(d->tempName, O_WRONLY | O_CREAT | O_EXCL);
        if (d->fd < 0 && errno != EEXIST)
            break;
    }
    d->failed = d->fd < 0;
    return !d->failed;
}

bool AtomicFileWriter::openReusing(const QString& spare)
{
    const QByteArray name = encodeFileName(spare);
    const int fd = openNoFollow(name, O_WRONLY);
    struct stat st;
    // One link and our owner: truncating can never reach a file someone linked in its place.
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
        st.st_uid == ::geteuid() && ::ftruncate(fd, 0) == 0) {
        d->tempName = name;
        d->fd = fd;
        d->failed = false;
        return true;
    }
    if (fd >= 0)
        ::close(fd);
    ::unlink(name.constData());
    return open();
}

bool AtomicFileWriter::write(const QByteArray& bytes)
{
    if (d->fd < 0 || d->failed)
        return false;
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n =
            ::write(d->fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            d->failed = true;
            return false;
        }
        done += n;
    }
    return true;
}

bool AtomicFileWriter::commit()
{
    // The content reaches the disk before the name does: a power cut leaves the old file or
    // the whole new one, never an empty one.
    return d->close(true) && commitFlushed();
}

bool AtomicFileWriter::closeUnflushed()
{
    return d->close(false);
}

bool AtomicFileWriter::commitFlushed()
{
    if (!std::exchange(d->closed, false))
        return false;
    if (::rename(d->tempName.constData(), encodeFileName(d->path).constData()) != 0) {
        ::unlink(d->tempName.constData());
        return false;
    }
    noteDiskStep(DiskStep::Name, d->path, d->tempName);
    return true;
}
