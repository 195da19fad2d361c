#pragma once

#include "ConnectionGate.h"
#include "RequestReader.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>

class KeptSocket;
class QTcpSocket;

// One client's connection: reads a request, has it judged and served, writes its answer, and
// only then reads the next one, so that answers always go in the order of the requests.
class HttpConnection : public QObject
{
    Q_OBJECT
public:
    HttpConnection(QTcpSocket* socket, ConnectionGate& gate);
    ~HttpConnection() override;

    // Writes the answer of request `number` if it is the one awaiting it.
    void send(quint64 number, const HttpAnswer& answer);
    bool awaits(quint64 number) const { return m_awaiting && number == m_number; }
    // Between requests or in the middle of headers: it may be closed to make room.
    bool mayMakeRoom() const;
    qint64 quietSinceMs() const { return m_since.elapsed(); }
    void close();

signals:
    // The connection is over: replies to it find nothing from now on.
    void closed();

private:
    enum class Deadline { None, Idle, Head, Body, Closing };
    void pump();
    void headDone();
    void complete();
    void finish(bool closeAfter);
    void fail(int status, const QByteArray& text);
    void answerAndClose(const HttpAnswer& answer, bool drainBody);
    void setDeadline(Deadline kind, qint64 ms);
    void deadlinePassed();
    void socketGone();

    ConnectionGate& m_gate;
    QTcpSocket* m_socket;
    RequestReader m_reader;
    QByteArray m_in; // read from the socket, not yet taken by the reader
    qsizetype m_inAt = 0;
    QTimer m_timer;
    Deadline m_deadline = Deadline::None;
    QElapsedTimer m_requestClock; // since the request's first byte
    QElapsedTimer m_since;        // since the last change of stage
    qint64 m_bodyStartMs = 0;
    qint64 m_drained = 0;
    std::optional<HttpAnswer> m_early; // judged on the head, given once the request is whole
    quint64 m_number = 0;
    bool m_awaiting = false;
    bool m_pumping = false;
    bool m_halfClosed = false; // the client shut its side; its answer goes through m_kept
    std::unique_ptr<KeptSocket> m_kept;
    bool m_closing = false;
    bool m_draining = false;
    bool m_headOnly = false;
    bool m_closeAfter = false;
    bool m_gone = false;
};
