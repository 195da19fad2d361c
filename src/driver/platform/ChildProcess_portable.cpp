#include "ChildProcess.h"

#include <QProcess>
#include <QSocketNotifier>

// Elsewhere a driver program ends when its input closes, which happens when this process ends;
// only the driver itself is ended here (a Windows layer would put the group in a job object
// that ends with us), and the end of its output is noticed when it ends.
ChildProcess::ChildProcess(QObject* parent) : QObject(parent) {}

ChildProcess::~ChildProcess() = default;

void ChildProcess::prepare(QProcess& process)
{
    m_process = &process;
    connect(&process, &QProcess::readyReadStandardOutput, this, &ChildProcess::outputReady);
}

void ChildProcess::started(QProcess&) {}

void ChildProcess::end()
{
    m_process = nullptr; // it may be deleted once ended
}

bool ChildProcess::hasEnded() const
{
    return !m_process || m_process->state() == QProcess::NotRunning;
}

QByteArray ChildProcess::readOutput()
{
    return m_process ? m_process->readAllStandardOutput() : QByteArray();
}

void ChildProcess::readPipe() {}

void ChildProcess::drain() {}
