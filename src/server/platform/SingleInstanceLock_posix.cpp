#include "SingleInstanceLock.h"

#include "common/platform/FileIo.h"

#include <QCoreApplication>
#include <QFile>

// The file is never deleted (deleting it would let a second instance lock a new file while the
// first still holds the old one); only the lock on it counts.
struct SingleInstanceLock::Held
{
    std::unique_ptr<QFile> file;
};

SingleInstanceLock::SingleInstanceLock(const QString& programFolder)
    : m_path(pathFor(programFolder))
{
}

SingleInstanceLock::~SingleInstanceLock() = default;

bool SingleInstanceLock::tryLock()
{
    auto file = openOwnFile(m_path, OwnFileMode::ReadWrite);
    if (!file || tryLockExclusively(*file) != LockResult::Locked)
        return false;
    // For people only: which process holds it.
    file->resize(0);
    file->write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
    m_held = std::make_unique<Held>(Held{std::move(file)});
    return true;
}
