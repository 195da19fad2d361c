#pragma once

#include "HttpMessage.h"
#include "RequestReader.h"

#include <QPointer>
#include <QTcpServer>
#include <optional>
#include <vector>

class HttpConnection;

// Answers one request, once. A reply kept past its connection's end, or past its answer,
// writes nothing.
class HttpReply
{
public:
    HttpReply() = default;
    HttpReply(HttpConnection* connection, quint64 number);
    void send(const HttpAnswer& answer);
    // The connection is there and still waits for this answer.
    bool pending() const;
    HttpConnection* connection() const;

private:
    QPointer<HttpConnection> m_connection;
    quint64 m_number = 0;
};

// What the front does with requests.
class RequestHandler
{
public:
    virtual ~RequestHandler() = default;
    // A request's head is in: the answer, when it is given before any body is read (a
    // refusal, or one that needs none); nothing, to read the body and have the request served.
    virtual std::optional<HttpAnswer> judge(const HttpRequest& head) = 0;
    virtual void serve(HttpRequest& request, HttpReply reply) = 0;
};

// The listening socket of the HTTP front and its connections: each reads its requests one at
// a time with http-parser, has its head judged before a byte of body is read, and answers in
// order. Every stage has a deadline: the time between requests, the headers, the body (which
// must keep a minimum rate) and the whole request; the bodies being read share one memory
// budget. When every connection is taken, one that is idle or still sending its headers makes
// room.
class ConnectionGate : public QTcpServer
{
    Q_OBJECT
public:
    struct Limits
    {
        qint64 maxBodyBytes = 16 * 1024 * 1024;
        int maxConnections = 256;
        int idleMs = 60'000;
        int headerMs = 30'000;
        // A body has bodyMs to come, and one second more for every minBodyRate bytes received,
        // within requestMs from the request's first byte.
        int bodyMs = 20'000;
        qint64 minBodyRate = 1024;
        int requestMs = 120'000;
        qint64 bodyBudgetBytes = 64 * 1024 * 1024;
        int maxHeaders = 100;
    };

    explicit ConnectionGate(Limits limits, QObject* parent = nullptr);
    ~ConnectionGate() override;

    void setHandler(RequestHandler* handler) { m_handler = handler; }
    RequestHandler* handler() const { return m_handler; }
    const Limits& limits() const { return m_limits; }
    BodyBudget& budget() { return m_budget; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    friend class HttpConnection;
    void closed(HttpConnection* connection);
    bool makeRoom();

    Limits m_limits;
    BodyBudget m_budget;
    RequestHandler* m_handler = nullptr;
    std::vector<HttpConnection*> m_connections; // open ones, oldest first
};
