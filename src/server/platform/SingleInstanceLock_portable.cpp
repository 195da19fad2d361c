#include "SingleInstanceLock.h"

#include <QLockFile>

// Qt's lock file: a stale lock is recognised by its holder's process id.
struct SingleInstanceLock::Held
{
    std::unique_ptr<QLockFile> lock;
};

SingleInstanceLock::SingleInstanceLock(const QString& programFolder)
    : m_path(pathFor(programFolder))
{
}

SingleInstanceLock::~SingleInstanceLock() = default;

bool SingleInstanceLock::tryLock()
{
    auto lock = std::make_unique<QLockFile>(m_path);
    // The holder keeps the lock for its whole run, so age says nothing: only a dead holder
    // makes it stale.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return false;
    m_held = std::make_unique<Held>(Held{std::move(lock)});
    return true;
}
