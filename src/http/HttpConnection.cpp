#include "HttpConnection.h"

#include "platform/KeptSocket.h"

#include <QTcpSocket>

namespace {

constexpr qint64 kReadChunk = 64 * 1024;
// A client that does not read its answers gets no further request read.
constexpr qint64 kMaxUnread = 256 * 1024;
// After a refusal, what the client still sends of its body is read and dropped for a moment,
// so that it can read the answer instead of a reset; then the connection goes.
constexpr qint64 kDrainBytes = 256 * 1024;
constexpr int kDrainMs = 2000;
constexpr int kClosingMs = 5000;
// How long a client that shut its side is kept for an answer held back (the longest wait, and
// more).
constexpr int kHalfClosedMs = 150'000;

} // namespace

HttpConnection::HttpConnection(QTcpSocket* socket, ConnectionGate& gate)
    : QObject(&gate), m_gate(gate), m_socket(socket),
      m_reader({gate.limits().maxBodyBytes, 16 * 1024, gate.limits().maxHeaders}, &gate.budget())
{
    socket->setParent(this);
    // Qt's socket reads no further ahead than this while a request awaits its answer.
    socket->setReadBufferSize(kReadChunk);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HttpConnection::deadlinePassed);
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::pump);
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_socket->bytesToWrite() <= kMaxUnread)
            pump();
    });
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnection::socketGone);
    connect(socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            socketGone();
    });
    m_since.start();
    setDeadline(Deadline::Idle, gate.limits().idleMs);
}

HttpConnection::~HttpConnection()
{
    m_socket->disconnect(this);
    if (!m_gone) {
        m_gone = true;
        m_gate.closed(this);
    }
}

bool HttpConnection::mayMakeRoom() const
{
    return !m_awaiting && (m_closing || m_reader.stage() == RequestReader::Stage::Head);
}

void HttpConnection::setDeadline(Deadline kind, qint64 ms)
{
    m_deadline = kind;
    if (kind == Deadline::None)
        m_timer.stop();
    else
        m_timer.start(int(std::clamp<qint64>(ms, 0, std::numeric_limits<int>::max())));
}

void HttpConnection::pump()
{
    if (m_pumping || m_gone)
        return;
    m_pumping = true;
    while (!m_gone) {
        if (m_draining) {
            m_drained += m_socket->read(kReadChunk).size();
            if (m_drained > kDrainBytes)
                m_socket->abort();
            break;
        }
        if (m_closing || m_awaiting)
            break;
        const auto stage = m_reader.stage();
        if (stage == RequestReader::Stage::Head && !m_reader.started() &&
            m_socket->bytesToWrite() > kMaxUnread)
            break;
        if (stage == RequestReader::Stage::Head || stage == RequestReader::Stage::Body) {
            if (m_inAt >= m_in.size()) {
                if (m_socket->bytesAvailable() <= 0)
                    break;
                m_in = m_socket->read(kReadChunk);
                m_inAt = 0;
            }
            const bool started = m_reader.started();
            const qsizetype taken = m_reader.read(m_in.constData() + m_inAt, m_in.size() - m_inAt);
            m_inAt += taken;
            if (!started && m_reader.started()) {
                m_requestClock.start();
                m_since.start();
                setDeadline(Deadline::Head, m_gate.limits().headerMs);
            }
            if (m_reader.stage() == RequestReader::Stage::Body) {
                // Every minBodyRate bytes received give the body one second more.
                const auto& l = m_gate.limits();
                const qint64 allowed =
                    std::min<qint64>(l.requestMs, m_bodyStartMs + l.bodyMs +
                                                      m_reader.request().body.size() * 1000 /
                                                          std::max<qint64>(1, l.minBodyRate));
                setDeadline(Deadline::Body, allowed - m_requestClock.elapsed());
            }
            continue;
        }
        if (stage == RequestReader::Stage::Failed) {
            fail(m_reader.failure().status, m_reader.failure().text);
            break;
        }
        if (stage == RequestReader::Stage::HeadDone) {
            headDone();
            continue;
        }
        if (stage == RequestReader::Stage::Complete)
            complete();
    }
    m_pumping = false;
}

void HttpConnection::headDone()
{
    const HttpRequest& head = m_reader.request();
    m_headOnly = head.method == "HEAD";
    RequestHandler* handler = m_gate.handler();
    std::optional<HttpAnswer> early =
        handler ? handler->judge(head)
                : std::optional(HttpAnswer::error(503, "the front is shutting down"));
    if (early) {
        // A body behind an answer given on the head is never read.
        if (head.announcesBody) {
            answerAndClose(*early, true);
            return;
        }
        m_early = std::move(early);
    } else if (head.expectsContinue && head.announcesBody) {
        m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
    }
    m_reader.readBody();
    m_bodyStartMs = m_requestClock.elapsed();
    setDeadline(Deadline::Body,
                std::min(m_gate.limits().bodyMs, int(m_gate.limits().requestMs - m_bodyStartMs)));
}

void HttpConnection::complete()
{
    m_awaiting = true;
    ++m_number;
    m_since.start();
    setDeadline(Deadline::None, 0);
    m_closeAfter = !m_reader.request().keepAlive || m_reader.lastOnConnection();
    if (m_early) {
        const HttpAnswer answer = std::move(*m_early);
        m_early.reset();
        send(m_number, answer);
        return;
    }
    m_gate.handler()->serve(m_reader.request(), HttpReply(this, m_number));
    // Held back: should the client shut its side meanwhile, the answer still has a way out.
    if (m_awaiting && !m_gone)
        m_kept = std::make_unique<KeptSocket>(m_socket->socketDescriptor());
}

void HttpConnection::send(quint64 number, const HttpAnswer& answer)
{
    if (!awaits(number) || m_gone)
        return;
    if (m_halfClosed) {
        m_kept->writeAndRelease(answer.wire(true, m_headOnly));
        m_halfClosed = false;
        socketGone();
        return;
    }
    m_socket->write(answer.wire(m_closeAfter, m_headOnly));
    m_socket->flush();
    finish(m_closeAfter);
}

void HttpConnection::finish(bool closeAfter)
{
    m_awaiting = false;
    m_kept.reset();
    m_early.reset();
    if (closeAfter) {
        m_closing = true;
        setDeadline(Deadline::Closing, kClosingMs);
        m_socket->disconnectFromHost();
        return;
    }
    m_reader.next();
    m_since.start();
    setDeadline(Deadline::Idle, m_gate.limits().idleMs);
    // Requests pipelined behind this one are read now (from within the loop if it is running).
    if (!m_pumping)
        pump();
}

void HttpConnection::fail(int status, const QByteArray& text)
{
    answerAndClose(HttpAnswer::error(status, text), m_reader.request().announcesBody);
}

void HttpConnection::answerAndClose(const HttpAnswer& answer, bool drainBody)
{
    m_awaiting = false;
    m_closing = true;
    m_socket->write(answer.wire(true, m_headOnly));
    m_socket->flush();
    m_reader.next(); // its share of the budget goes back at once
    if (drainBody) {
        m_draining = true;
        m_drained = 0;
        setDeadline(Deadline::Closing, kDrainMs);
        return;
    }
    setDeadline(Deadline::Closing, kClosingMs);
    m_socket->disconnectFromHost();
}

void HttpConnection::deadlinePassed()
{
    switch (m_deadline) {
    case Deadline::Idle:
        m_socket->abort();
        break;
    case Deadline::Head:
        fail(408, "the request's headers took too long");
        break;
    case Deadline::Body:
        answerAndClose(HttpAnswer::error(408, "the body came too slowly"), true);
        break;
    case Deadline::Closing:
        if (m_halfClosed) {
            m_halfClosed = false;
            socketGone();
        } else if (m_draining) {
            m_draining = false;
            setDeadline(Deadline::Closing, kClosingMs);
            m_socket->disconnectFromHost();
        } else {
            m_socket->abort();
        }
        break;
    case Deadline::None:
        break;
    }
}

void HttpConnection::close()
{
    m_socket->abort();
}

void HttpConnection::socketGone()
{
    if (m_gone || m_halfClosed)
        return;
    // The client shut its side with its request whole: it still reads, through the hold.
    if (m_awaiting && !m_closing && m_kept && m_kept->valid() &&
        m_socket->error() == QAbstractSocket::RemoteHostClosedError) {
        m_halfClosed = m_closeAfter = true;
        setDeadline(Deadline::Closing, kHalfClosedMs);
        return;
    }
    m_gone = true;
    m_kept.reset();
    m_awaiting = false;
    m_timer.stop();
    m_reader.next();
    m_gate.closed(this);
    emit closed();
    deleteLater();
}

HttpReply::HttpReply(HttpConnection* connection, quint64 number)
    : m_connection(connection), m_number(number)
{
}

void HttpReply::send(const HttpAnswer& answer)
{
    if (m_connection)
        m_connection->send(m_number, answer);
}

bool HttpReply::pending() const
{
    return m_connection && m_connection->awaits(m_number);
}

HttpConnection* HttpReply::connection() const
{
    return m_connection;
}
