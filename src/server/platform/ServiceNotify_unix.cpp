#include "ServiceNotify.h"

#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace ServiceNotify {

bool available()
{
    return !qEnvironmentVariableIsEmpty("NOTIFY_SOCKET");
}

void send(const QByteArray& message)
{
    const QByteArray path = qgetenv("NOTIFY_SOCKET");
    sockaddr_un address{};
    if (path.isEmpty() || path.size() >= qsizetype(sizeof(address.sun_path)))
        return;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    // "@name" is a name in the abstract namespace.
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()));
    ::sendto(fd, message.constData(), size_t(message.size()), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&address), length);
    ::close(fd);
}

int watchdogMs()
{
    bool ok = false;
    const qint64 usec = qEnvironmentVariable("WATCHDOG_USEC").toLongLong(&ok);
    if (!ok || usec <= 0)
        return 0;
    // Meant for another process (a wrapper that started this one): not ours to keep.
    const QByteArray pid = qgetenv("WATCHDOG_PID");
    if (!pid.isEmpty() && pid.toLongLong() != qint64(::getpid()))
        return 0;
    return int(std::min<qint64>(usec / 1000, 24 * 3600 * 1000));
}

} // namespace ServiceNotify
