#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// A second start of a program folder ends, as it must, but first asks the running instance of
// that folder to show its window: the user then finds what is running. A local socket beside
// the instance lock, named after it, so another folder's instance never hears it.
class ShowWindowChannel : public QObject
{
    Q_OBJECT
public:
    explicit ShowWindowChannel(const QString& lockPath, QObject* parent = nullptr);
    ~ShowWindowChannel() override;

    // The running instance (it holds the lock): listens; false (and why on standard error) when
    // it cannot.
    bool listen();
    // A second start: asks whoever listens to show its window; true when it was heard.
    bool ask(int timeoutMs) const;
    QString socketPath() const { return m_socketPath; }

signals:
    void showRequested();

private:
    QString m_socketPath;
    QLocalServer* m_server = nullptr;
};
