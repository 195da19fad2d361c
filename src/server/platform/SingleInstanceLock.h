#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// One running instance per program folder. The lock lives in the user's runtime folder and is
// keyed by the program folder, so another folder may run its own instance; a lock left by a
// crashed instance is recognised as stale and taken over.
class SingleInstanceLock
{
public:
    explicit SingleInstanceLock(const QString& programFolder);
    // False when another instance of the same program folder holds the lock.
    bool tryLock();

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};
