#include "InputFolderScanner.h"

#include "common/platform/FileIo.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <algorithm>

namespace {

std::optional<FileSignature> signatureOf(const FileStatus& status)
{
    // A missing file, a link, a folder, a FIFO: none is a command file.
    if (status.type != FileStatus::Type::Regular)
        return std::nullopt;
    return FileSignature{status.size, QDateTime::fromMSecsSinceEpoch(status.modifiedMs, Qt::UTC),
                         status.inode};
}

} // namespace

std::optional<FileSignature> commandFileSignature(const QString& path)
{
    // One look at the file, by the bytes of its name.
    return signatureOf(fileStatus(path));
}

InputFolderScanner::InputFolderScanner(int settleMs)
    : m_settleMs(settleMs), m_steadyMs([] { return QDeadlineTimer::current().deadline(); })
{
}

bool InputFolderScanner::isCommandFileName(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && name.mid(dot + 1).compare(QLatin1String("TXT"), Qt::CaseInsensitive) == 0;
}

void InputFolderScanner::setWatcher(std::unique_ptr<FolderWatcher> watcher)
{
    m_watcher = std::move(watcher);
    m_watchedFolder.clear();
    m_knownValid = false;
    m_completed.clear();
}

bool InputFolderScanner::watch(const QString& folder)
{
    m_knownValid = false;
    m_completed.clear();
    m_watchedFolder = folder;
    return m_watcher && m_watcher->watch(folder);
}

void InputFolderScanner::markComplete(const QString& path)
{
    if (const auto signature = commandFileSignature(path))
        m_completed.insert(path.mid(path.lastIndexOf(u'/') + 1), *signature);
}

void InputFolderScanner::takeWatcherEvents()
{
    if (!m_watcher)
        return;
    for (const FolderEvent& event : m_watcher->takeEvents()) {
        switch (event.kind) {
        case FolderEvent::Kind::Rescan:
            m_knownValid = false;
            break;
        case FolderEvent::Kind::Appeared:
            m_known.insert(event.name);
            break;
        case FolderEvent::Kind::Completed:
            m_known.insert(event.name);
            if (const auto signature = commandFileSignature(m_watchedFolder + event.name))
                m_completed.insert(event.name, *signature);
            break;
        case FolderEvent::Kind::Removed:
            m_known.remove(event.name);
            m_completed.remove(event.name);
            break;
        }
    }
    if (!m_watcher->isWatching())
        m_knownValid = false;
}

void InputFolderScanner::classify(const QString& path, const QString& name,
                                  const FileSignature& signature, qint64 nowMs, Listing& listing,
                                  Seen& seen) const
{
    if (const auto known = m_passedOver.constFind(path); known != m_passedOver.cend()) {
        if (*known == signature && sameContent(path)) {
            seen.passedOver.insert(path, signature);
            return;
        }
    }
    // A file its writer has closed is complete, however young.
    if (const auto closed = m_completed.constFind(name);
        closed != m_completed.cend() && *closed == signature) {
        listing.ready.append(path);
        return;
    }
    // Otherwise it is complete once it stayed the same for the settling time, as we measure it.
    const auto before = m_sightings.constFind(path);
    const qint64 since =
        before != m_sightings.cend() && before->signature == signature ? before->sinceMs : nowMs;
    seen.sightings.insert(path, Sighting{signature, since});
    const qint64 unchanged = nowMs - since;
    if (unchanged < m_settleMs) {
        ++listing.settling;
        const int wait = static_cast<int>(m_settleMs - unchanged);
        listing.msUntilSettled = std::max(listing.msUntilSettled, wait);
        return;
    }
    listing.ready.append(path);
}

void InputFolderScanner::sortReady(Listing& listing)
{
    std::sort(listing.ready.begin(), listing.ready.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
}

InputFolderScanner::Listing InputFolderScanner::list(const QString& folder)
{
    // Events up to now are superseded by the listing; later ones are applied on top of it.
    takeWatcherEvents();
    const bool watched = m_watcher && m_watcher->isWatching() && folder == m_watchedFolder;
    QSet<QString> names;
    QHash<QString, FileSignature> completed;

    Listing listing;
    Seen seen;
    const qint64 nowMs = m_steadyMs();
    // Taken before the folder is read: a change while it is read shows as a later time.
    m_folderModifiedNs = modificationTimeNs(folder);
    m_folderReadAtMs = QDateTime::currentMSecsSinceEpoch();
    ++m_folderReads;

    // Names are read as bytes, so that a name in any encoding is a command file like any
    // other. FIFOs, sockets, devices and links stay out of the listing.
    for (const QString& name : folderEntries(folder).value_or(QStringList())) {
        if (!isCommandFileName(name))
            continue;
        const QString path = folder + name;
        const auto signature = commandFileSignature(path);
        if (!signature)
            continue;
        if (watched) {
            names.insert(name);
            if (const auto c = m_completed.constFind(name); c != m_completed.cend())
                completed.insert(c.key(), c.value());
        }
        classify(path, name, *signature, nowMs, listing, seen);
    }
    m_passedOver.swap(seen.passedOver);
    forgetContentOfChangedFiles();
    m_sightings.swap(seen.sightings);
    m_completed.swap(completed);
    m_known.swap(names);
    m_knownValid = watched;
    sortReady(listing);
    return listing;
}

InputFolderScanner::Listing InputFolderScanner::listFromEvents(const QString& folder)
{
    takeWatcherEvents();
    if (!m_knownValid || folder != m_watchedFolder)
        return list(folder);
    return listKnown(folder);
}

InputFolderScanner::Listing InputFolderScanner::listKnown(const QString& folder)
{
    Listing listing;
    Seen seen;
    const qint64 nowMs = m_steadyMs();
    for (auto name = m_known.begin(); name != m_known.end();) {
        const QString path = folder + *name;
        const auto signature = commandFileSignature(path);
        if (!signature) {
            // Gone (or never a command file): the events will say if it comes back.
            m_completed.remove(*name);
            name = m_known.erase(name);
            continue;
        }
        classify(path, *name, *signature, nowMs, listing, seen);
        ++name;
    }
    m_passedOver.swap(seen.passedOver);
    forgetContentOfChangedFiles();
    m_sightings.swap(seen.sightings);
    sortReady(listing);
    return listing;
}

InputFolderScanner::Listing InputFolderScanner::listOnTimer(const QString& folder)
{
    // Elsewhere, adding, removing or renaming an entry changes the folder's modification time,
    // on a network share too. A time within two seconds of the last read may still be shared by a
    // change made just after it (the clock behind file times is coarse), so it proves nothing.
    constexpr qint64 kRacyMs = 2000;
    constexpr qint64 kReadAtLeastEveryMs = 60000;
    takeWatcherEvents();
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    if (!m_knownValid || folder != m_watchedFolder ||
        nowMs - m_folderReadAtMs >= kReadAtLeastEveryMs)
        return list(folder);
    // On a local disk every change is an event; a lost event is a Rescan.
    if (m_watcher->seesEveryChange())
        return listKnown(folder);
    if (m_folderModifiedNs && m_folderReadAtMs - *m_folderModifiedNs / 1000000 >= kRacyMs &&
        modificationTimeNs(folder) == m_folderModifiedNs)
        return listKnown(folder);
    return list(folder);
}

void InputFolderScanner::forgetContentOfChangedFiles()
{
    for (auto it = m_passedContent.begin(); it != m_passedContent.end();)
        it = m_passedOver.contains(it.key()) ? std::next(it) : m_passedContent.erase(it);
}

void InputFolderScanner::passOver(const QString& path)
{
    const FileStatus status = fileStatus(path);
    if (const auto signature = signatureOf(status)) {
        m_passedOver.insert(path, *signature);
        m_passedContent.insert(path, Content{contentDigest(path), status.changeNs});
    }
}

void InputFolderScanner::passOver(const QString& path, const FileSignature& signature,
                                  const QByteArray& digest)
{
    m_passedOver.insert(path, signature);
    m_passedContent.insert(path, Content{digest, 0});
}

QByteArray InputFolderScanner::passedOverDigest(const QString& path) const
{
    return m_passedContent.value(path).digest;
}

bool InputFolderScanner::sameContent(const QString& path) const
{
    const auto it = m_passedContent.find(path);
    if (it == m_passedContent.end() || it->digest.isEmpty())
        return true;
    const qint64 changeNs = fileStatus(path).changeNs;
    if (changeNs != 0 && changeNs == it->checkedChangeNs)
        return true;
    if (contentDigest(path) != it->digest)
        return false;
    it->checkedChangeNs = changeNs;
    return true;
}

QByteArray InputFolderScanner::contentDigest(const QString& path)
{
    const auto file = openRegularFileForReading(path);
    if (!file)
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(file.get()))
        return {};
    return hash.result().toHex();
}
