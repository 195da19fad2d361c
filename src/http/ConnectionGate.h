#pragma once

#include <QByteArray>
#include <QPointer>
#include <QTcpServer>
#include <optional>

class QTcpSocket;

// The listening socket of the HTTP front, and the limits Qt's HTTP server does not keep: it
// reads every request whole, whatever its size, for as long as the client takes. The gate sees
// each connection's bytes before the server's parser does and refuses, without reading on:
// a request whose headers pass kMaxHeaderBytes (431) or that does not finish them within the
// header time (408), a body announced or sent beyond the limit (413), and connections beyond
// the limit (503). A connection that sends nothing for the idle time is closed, unless it waits
// for an answer the program holds back (then the front marks it busy).
class ConnectionGate : public QTcpServer
{
    Q_OBJECT
public:
    static constexpr qsizetype kMaxHeaderBytes = 16 * 1024;

    struct Limits
    {
        qint64 maxBodyBytes = 16 * 1024 * 1024;
        int maxConnections = 256;
        int idleMs = 60'000;
        int headerMs = 30'000;
    };

    ConnectionGate(Limits limits, QObject* parent = nullptr);

    // The object whose slots read the sockets (the HTTP server): a refused request is cut from
    // it before it reads anything.
    void setReader(QObject* reader) { m_reader = reader; }
    int openConnections() const { return m_open; }

    // An answer is held back for this socket (long wait): idle time does not count meanwhile.
    static void setAwaitingAnswer(QTcpSocket* socket, bool awaiting);

    // A complete answer of our own, written where Qt's server does not answer.
    static QByteArray plainAnswer(int status, const QByteArray& reason, const QByteArray& text,
                                  const QByteArray& extraHeaders = {});

    // Where a request's header block ends (after its blank line), as Qt's parser finds it: a
    // line feed followed by an empty line, with or without carriage returns; -1 while it has not.
    static qsizetype headerBlockEnd(const QByteArray& head);
    // What the limits need of a header block.
    struct Announced
    {
        bool valid = true;
        std::optional<qint64> length; // Content-Length
        bool chunked = false;
        bool expectsContinue = false;
    };
    static Announced announced(const QByteArray& head);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    friend class ConnectionGuard;
    Limits m_limits;
    QPointer<QObject> m_reader;
    int m_open = 0;
};
