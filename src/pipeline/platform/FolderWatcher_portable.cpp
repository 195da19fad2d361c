#include "pipeline/FolderWatcher.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

namespace {

// QFileSystemWatcher only says that the folder changed, not what: every change asks for a
// listing, and files wait until they have settled.
class PortableFolderWatcher final : public FolderWatcher
{
public:
    explicit PortableFolderWatcher(NameFilter filter) : FolderWatcher(std::move(filter))
    {
        connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
            if (!QFileInfo(m_folder).isDir())
                m_watching = false;
            m_changed = true;
            emit eventsPending();
        });
    }

    bool watch(const QString& folder) override
    {
        if (!m_watcher.directories().isEmpty())
            m_watcher.removePaths(m_watcher.directories());
        m_folder = folder;
        m_watching = QFileInfo(folder).isDir() && m_watcher.addPath(folder);
        m_changed = true;
        return m_watching;
    }
    bool isWatching() const override { return m_watching; }
    bool seesEveryChange() const override { return false; }
    QList<FolderEvent> takeEvents() override
    {
        if (!m_changed)
            return {};
        m_changed = false;
        return {FolderEvent{FolderEvent::Kind::Rescan, QString()}};
    }

private:
    QFileSystemWatcher m_watcher;
    QString m_folder;
    bool m_watching = false;
    bool m_changed = false;
};

} // namespace

std::unique_ptr<FolderWatcher> createPortableFolderWatcher(FolderWatcher::NameFilter filter)
{
    return std::make_unique<PortableFolderWatcher>(std::move(filter));
}

#ifndef QDS_HAVE_INOTIFY
std::unique_ptr<FolderWatcher> createFolderWatcher(FolderWatcher::NameFilter filter)
{
    return createPortableFolderWatcher(std::move(filter));
}
#endif
