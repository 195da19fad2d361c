#pragma once

#include <QByteArray>
#include <QObject>
#include <memory>

class QProcess;
class QSocketNotifier;

// What a driver program needs from the system beyond QProcess.
// - It must not outlive this program: left running, it would keep the register's port and take
//   commands from nobody. The driver and everything it starts (a wrapper script's real driver,
//   a helper that inherited its output) form one group that ends together.
// - The end of its output is the end of the driver, even while it still runs; QProcess tells
//   it only once the process is gone, so its output is read here.
class ChildProcess : public QObject
{
    Q_OBJECT
public:
    explicit ChildProcess(QObject* parent = nullptr);
    // Ends whatever is left of the group.
    ~ChildProcess() override;

    // Call before QProcess::start(): the process will lead a group of its own that ends when
    // this process ends, however it ends (where the system allows it).
    void prepare(QProcess& process);
    // Call once QProcess::start() has returned.
    void started(QProcess& process);
    // Ends every process of the group, the driver itself included, at once.
    void end();
    // Whether the process itself has ended (its end may not have been reported yet).
    bool hasEnded() const;

    // What it wrote on its standard output since the last call.
    QByteArray readOutput();

signals:
    void outputReady();
    void outputClosed();

private:
    void readPipe();
    void drain();

    QProcess* m_process = nullptr;
    qint64 m_group = 0;
    int m_lifeline = -1; // held by us; the group's watcher ends the group when it closes
    int m_watcherEnd = -1;
    int m_outputRead = -1;
    int m_outputWrite = -1;
    std::unique_ptr<QSocketNotifier> m_outputNotifier;
    QByteArray m_output;
    quint64 m_started = 0; // processes started so far
};
