#pragma once

#include <QString>
#include <memory>

// One running instance per program folder. The lock lives in the user's runtime folder and is
// keyed by the program folder, so another folder may run its own instance. It is a lock the
// system drops when its holder dies, however it dies: a killed instance, or a file left empty
// or torn by a kill at the wrong moment, never keeps the next start out.
class SingleInstanceLock
{
public:
    explicit SingleInstanceLock(const QString& programFolder);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // False when another instance of the same program folder holds the lock.
    bool tryLock();
    // Where the lock lives.
    QString path() const { return m_path; }

private:
    static QString pathFor(const QString& programFolder);

    struct Held; // what the system's lock needs
    QString m_path;
    std::unique_ptr<Held> m_held;
};
