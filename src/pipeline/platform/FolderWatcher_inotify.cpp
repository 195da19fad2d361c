#include "common/platform/FileIo.h"
#include "pipeline/FolderWatcher.h"

#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// File systems whose changes may come from other machines, which inotify never hears of.
bool isNetworkFileSystem(const QByteArray& path)
{
    struct statfs info;
    if (::statfs(path.constData(), &info) != 0)
        return true; // unknown: assume the worst
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE (sshfs and the like)
    case 0x01021997: // 9P
    case 0x00C36400: // Ceph
    case 0x73757245: // Coda
    case 0x5346414F: // AFS
    case 0x564C:     // NCP
        return true;
    default:
        return false;
    }
}

// inotify tells what happened to which name, including the moment a writer closes a file:
// a file written in place is taken as soon as it is closed, one renamed into the folder as
// soon as it arrives.
class InotifyFolderWatcher final : public FolderWatcher
{
public:
    explicit InotifyFolderWatcher(NameFilter filter) : FolderWatcher(std::move(filter))
    {
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd < 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
            if (readEvents())
                emit eventsPending();
        });
    }

    ~InotifyFolderWatcher() override
    {
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool watch(const QString& folder) override
    {
        if (m_fd < 0)
            return false;
        if (m_wd >= 0)
            inotify_rm_watch(m_fd, m_wd);
        m_wd = -1;
        readEvents(); // what belonged to the old watch
        m_pending.clear();
        const QByteArray path = encodeFileName(folder);
        constexpr uint32_t mask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM |
                                  IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
        m_wd = inotify_add_watch(m_fd, path.constData(), mask);
        m_local = m_wd >= 0 && !isNetworkFileSystem(path);
        return m_wd >= 0;
    }

    bool isWatching() const override { return m_wd >= 0; }
    bool seesEveryChange() const override { return m_wd >= 0 && m_local; }

    QList<FolderEvent> takeEvents() override
    {
        readEvents();
        QList<FolderEvent> events;
        events.swap(m_pending);
        return events;
    }

private:
    // Moves what the kernel holds into m_pending; true when something worth a look came.
    bool readEvents()
    {
        if (m_fd < 0)
            return false;
        bool kept = false;
        alignas(inotify_event) char buffer[16 * 1024];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return kept;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                kept |= take(*event);
            }
        }
    }

    bool take(const inotify_event& event)
    {
        if (event.mask & IN_Q_OVERFLOW) {
            m_pending.append({FolderEvent::Kind::Rescan, QString()});
            return true;
        }
        if (event.wd != m_wd || m_wd < 0)
            return false; // a watch given up earlier
        if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
            // The folder itself went away: polling watches for it to come back.
            if (!(event.mask & IN_IGNORED))
                inotify_rm_watch(m_fd, m_wd);
            m_wd = -1;
            m_pending.append({FolderEvent::Kind::Rescan, QString()});
            return true;
        }
        if (event.len == 0 || (event.mask & IN_ISDIR))
            return false;
        const QString name = decodeFileName(QByteArray(event.name));
        if (!accepts(name))
            return false;
        FolderEvent::Kind kind;
        if (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO))
            kind = FolderEvent::Kind::Completed;
        else if (event.mask & (IN_DELETE | IN_MOVED_FROM))
            kind = FolderEvent::Kind::Removed;
        else
            kind = FolderEvent::Kind::Appeared;
        m_pending.append({kind, name});
        // Only a complete file is worth a look now.
        return kind == FolderEvent::Kind::Completed;
    }

    int m_fd = -1;
    int m_wd = -1;
    bool m_local = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<FolderEvent> m_pending;
};

} // namespace

std::unique_ptr<FolderWatcher> createFolderWatcher(FolderWatcher::NameFilter filter)
{
    return std::make_unique<InotifyFolderWatcher>(std::move(filter));
}
