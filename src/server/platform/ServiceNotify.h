#pragma once

#include <QByteArray>

// Tells the service manager that started the program (systemd, Type=notify) how it is: ready,
// its state line, stopping, and alive for the watchdog. Nothing happens unless it was started
// with a socket to tell (NOTIFY_SOCKET).
namespace ServiceNotify {

bool available();
// One message of the protocol: "READY=1", "STATUS=…", "STOPPING=1", "WATCHDOG=1".
void send(const QByteArray& message);
// The watchdog's interval the manager asks of this process, in milliseconds; 0 for none.
int watchdogMs();

} // namespace ServiceNotify
