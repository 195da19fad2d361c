#include "ConnectionGate.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

namespace {

const char* const kAwaiting = "qdsAwaitingAnswer";

} // namespace

// Watches one connection for the gate; lives as the socket's child.
class ConnectionGuard : public QObject
{
public:
    ConnectionGuard(ConnectionGate& gate, QTcpSocket* socket)
        : QObject(socket), m_gate(gate), m_socket(socket)
    {
        m_idle.setSingleShot(true);
        m_idle.setInterval(gate.m_limits.idleMs);
        connect(&m_idle, &QTimer::timeout, this, &ConnectionGuard::idleTimeout);
        m_headerTimer.setSingleShot(true);
        m_headerTimer.setInterval(gate.m_limits.headerMs);
        connect(&m_headerTimer, &QTimer::timeout, this, [this] {
            if (m_headEnd < 0 && m_received > 0)
                refuse(408, "Request Timeout", "the request's headers took too long");
        });
        // Connected before the server's own reader, so it runs first.
        connect(socket, &QTcpSocket::readyRead, this, &ConnectionGuard::readyRead);
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { m_idle.start(); });
        m_idle.start();
    }

private:
    void readyRead()
    {
        m_idle.start();
        if (m_refused) {
            // Read and dropped, so that the client can read the refusal before the close.
            m_drained += m_socket->readAll().size();
            if (m_drained > 4 * m_gate.m_limits.maxBodyBytes)
                m_socket->abort();
            return;
        }
        // Without a transaction the server has finished with the bytes before: a new request.
        if (!m_socket->isTransactionStarted())
            startRequest();
        // The server's parser takes everything it is given each time: what it has not taken
        // came since.
        const qint64 fresh = m_socket->bytesAvailable();
        if (fresh <= 0)
            return;
        if (m_headEnd < 0) {
            if (m_received == 0)
                m_headerTimer.start();
            m_head += m_socket->peek(
                std::min<qint64>(fresh, ConnectionGate::kMaxHeaderBytes + 4 - m_head.size()));
            m_received += fresh;
            const qsizetype end = ConnectionGate::headerBlockEnd(m_head);
            if (end < 0) {
                if (m_head.size() > ConnectionGate::kMaxHeaderBytes)
                    refuse(431, "Request Header Fields Too Large",
                           "the request's headers pass 16 KiB");
                return;
            }
            m_headerTimer.stop();
            m_headEnd = end;
            if (!headersAccepted())
                return;
            m_bodyReceived = m_received - end;
        } else {
            m_bodyReceived += fresh;
        }
        // A chunked body's framing is small beside the limit.
        if (m_bodyReceived > m_gate.m_limits.maxBodyBytes + (m_chunked ? 64 * 1024 : 0))
            refuse(413, "Content Too Large", "the body passes the limit");
    }

    bool headersAccepted()
    {
        const auto a = ConnectionGate::announced(m_head.left(m_headEnd));
        m_chunked = a.chunked;
        if (!a.valid || (a.chunked && a.length)) {
            refuse(400, "Bad Request", "the body's length is not clear");
            return false;
        }
        if (a.length && *a.length > m_gate.m_limits.maxBodyBytes) {
            refuse(413, "Content Too Large", "the body passes the limit");
            return false;
        }
        if (a.expectsContinue)
            m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        return true;
    }

    void startRequest()
    {
        m_head.clear();
        m_headEnd = -1;
        m_received = 0;
        m_bodyReceived = 0;
        m_chunked = false;
    }

    void idleTimeout()
    {
        if (m_socket->property(kAwaiting).toBool())
            m_idle.start();
        else
            m_socket->abort();
    }

    void refuse(int status, const QByteArray& reason, const QByteArray& text)
    {
        m_refused = true;
        m_headerTimer.stop();
        if (m_gate.m_reader)
            disconnect(m_socket, nullptr, m_gate.m_reader, nullptr);
        m_socket->write(ConnectionGate::plainAnswer(status, reason, text));
        // Nothing of this request is kept: the server's transaction would hold it all.
        if (m_socket->isTransactionStarted())
            m_socket->commitTransaction();
        m_socket->readAll();
        m_socket->disconnectFromHost();
        // What the client still sends is dropped for a moment, then the connection goes.
        m_idle.setInterval(std::min(m_gate.m_limits.idleMs, 5000));
        m_idle.start();
        m_socket->setProperty(kAwaiting, false);
    }

    ConnectionGate& m_gate;
    QTcpSocket* m_socket;
    QTimer m_idle;
    QTimer m_headerTimer;
    QByteArray m_head;
    qsizetype m_headEnd = -1;
    qint64 m_received = 0;
    qint64 m_bodyReceived = 0;
    qint64 m_drained = 0;
    bool m_chunked = false;
    bool m_refused = false;
};

// Where the header block ends (after its blank line), as Qt's parser finds it: a line feed
// followed by an empty line, with or without carriage returns. -1 while it has not.
qsizetype ConnectionGate::headerBlockEnd(const QByteArray& head)
{
    qsizetype best = -1;
    if (const qsizetype a = head.indexOf("\n\r\n"); a >= 0)
        best = a + 3;
    if (const qsizetype b = head.indexOf("\n\n"); b >= 0 && (best < 0 || b + 2 < best))
        best = b + 2;
    return best;
}

// Only what the limits need: the declared length (more than one, or one that is not a number,
// is refused, so that we never count otherwise than the parser reads), chunked transfer, and
// "Expect: 100-continue", which Qt's server does not answer.
ConnectionGate::Announced ConnectionGate::announced(const QByteArray& head)
{
    Announced a;
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed().toLower();
        if (name == "content-length") {
            bool ok = false;
            const qint64 length = value.toLongLong(&ok);
            if (!ok || length < 0 || a.length || value.startsWith('+'))
                a.valid = false;
            else
                a.length = length;
        } else if (name == "transfer-encoding") {
            a.chunked = true;
        } else if (name == "expect") {
            a.expectsContinue = value == "100-continue";
        }
    }
    return a;
}
ConnectionGate::ConnectionGate(Limits limits, QObject* parent)
    : QTcpServer(parent), m_limits(limits)
{
    setMaxPendingConnections(m_limits.maxConnections);
}

void ConnectionGate::setAwaitingAnswer(QTcpSocket* socket, bool awaiting)
{
    socket->setProperty(kAwaiting, awaiting);
}

QByteArray ConnectionGate::plainAnswer(int status, const QByteArray& reason, const QByteArray& text,
                                       const QByteArray& extraHeaders)
{
    const QByteArray body =
        R"({"error":{"status":)" + QByteArray::number(status) + R"(,"text":")" + text + "\"}}\n";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n" + extraHeaders + "\r\n" +
           body;
}

void ConnectionGate::incomingConnection(qintptr descriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (m_open >= m_limits.maxConnections) {
        socket->write(
            plainAnswer(503, "Service Unavailable", "too many connections", "Retry-After: 1\r\n"));
        socket->disconnectFromHost();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(5000, socket, &QObject::deleteLater);
        return;
    }
    ++m_open;
    connect(socket, &QObject::destroyed, this, [this] { --m_open; });
    new ConnectionGuard(*this, socket);
    addPendingConnection(socket);
}
