#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// Something that happened in a watched folder.
struct FolderEvent
{
    enum class Kind {
        Appeared,  // a file was created; its writer may still be at work
        Completed, // a file was closed after writing, or renamed or moved into the folder
        Removed,   // a file was deleted, renamed or moved away
        Rescan,    // events were lost, or the watch ended: only a full listing tells
    };
    Kind kind;
    QString name; // file name inside the folder; empty for Rescan
};

// Tells at once what changes in one folder, so that a file is taken as soon as it is complete
// instead of at the next polling tick. Polling stays the safety net: a watcher may lose events
// (a full queue, a network share) and says so with a Rescan.
class FolderWatcher : public QObject
{
    Q_OBJECT
public:
    using NameFilter = std::function<bool(const QString& name)>;

    // Only events about names the filter accepts are kept (Rescan always is).
    explicit FolderWatcher(NameFilter filter) : m_filter(std::move(filter)) {}

    // Starts watching the folder, replacing any earlier watch. False when it cannot be watched.
    virtual bool watch(const QString& folder) = 0;
    // False once the watched folder was deleted or moved, or if watch() failed.
    virtual bool isWatching() const = 0;
    // Whether every change of the watched folder shows as an event (or as a Rescan when events
    // were lost). Not so on a network share, where other machines' changes go unseen.
    virtual bool seesEveryChange() const = 0;
    // The events since the last call, oldest first; never waits.
    virtual QList<FolderEvent> takeEvents() = 0;

signals:
    // Events wait to be taken. Emitted from the event loop.
    void eventsPending();

protected:
    bool accepts(const QString& name) const { return !m_filter || m_filter(name); }

private:
    NameFilter m_filter;
};

// The best watcher for this platform.
std::unique_ptr<FolderWatcher> createFolderWatcher(FolderWatcher::NameFilter filter);
// The one that works wherever Qt does; it cannot tell when a file is complete.
std::unique_ptr<FolderWatcher> createPortableFolderWatcher(FolderWatcher::NameFilter filter);
