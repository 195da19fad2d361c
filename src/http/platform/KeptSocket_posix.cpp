#include "KeptSocket.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

KeptSocket::KeptSocket(qintptr descriptor)
    : m_descriptor(descriptor >= 0 ? ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0) : -1)
{
}

KeptSocket::~KeptSocket()
{
    release();
}

bool KeptSocket::writeAndRelease(const QByteArray& bytes)
{
    qsizetype at = 0;
    // The socket is non-blocking (Qt made it so): a full buffer is waited for, briefly.
    for (int waits = 0; valid() && at < bytes.size() && waits < 20;) {
        const ssize_t n = ::send(int(m_descriptor), bytes.constData() + at,
                                 size_t(bytes.size() - at), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            at += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{int(m_descriptor), POLLOUT, 0};
            ::poll(&p, 1, 50);
            ++waits;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    release();
    return at == bytes.size();
}

void KeptSocket::release()
{
    if (m_descriptor >= 0)
        ::close(int(m_descriptor));
    m_descriptor = -1;
}
