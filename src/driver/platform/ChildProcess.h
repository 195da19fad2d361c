#pragma once

class QProcess;

// A driver program must not outlive this program: left running after a crash, it would keep
// the register's port and take commands from nobody. Where the system allows it, the child is
// ended when this process ends, however it ends. Call before QProcess::start().
void endWithThisProcess(QProcess& process);
