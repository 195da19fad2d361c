#pragma once

#include <QByteArray>
#include <QtGlobal>

// A second hold on a connection's socket while its answer is awaited. Qt's sockets end the
// whole connection when the client shuts its sending side (a half close, as `nc -N` or a
// `shutdown()` after the request does), yet such a client still waits for its answer: it is
// written through this hold. Where the platform cannot keep one, valid() is false and the
// answer is lost with the connection, as before.
class KeptSocket
{
public:
    KeptSocket() = default;
    explicit KeptSocket(qintptr descriptor);
    ~KeptSocket();
    KeptSocket(const KeptSocket&) = delete;
    KeptSocket& operator=(const KeptSocket&) = delete;

    bool valid() const { return m_descriptor >= 0; }
    // Writes the answer (waiting a moment if the system's buffer is full) and lets the
    // connection go; false when it could not be written whole.
    bool writeAndRelease(const QByteArray& bytes);
    void release();

private:
    qintptr m_descriptor = -1;
};
