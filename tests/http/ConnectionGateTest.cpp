#include "http/ConnectionGate.h"
#include "support/TestSupport.h"

#include <QTcpSocket>
#include <gtest/gtest.h>
#include <optional>

namespace {

// Refuses paths under /refuse on their head, holds the answer back (as a long wait does) for
// paths under /hold, and answers the rest at once with the path.
class HoldingHandler : public RequestHandler
{
public:
    std::optional<HttpReply> held;
    int served = 0;

    std::optional<HttpAnswer> judge(const HttpRequest& head) override
    {
        if (head.url.path().startsWith(QStringLiteral("/refuse")))
            return HttpAnswer::error(401, "no");
        return std::nullopt;
    }
    void serve(HttpRequest& request, HttpReply reply) override
    {
        ++served;
        if (request.url.path().startsWith(QStringLiteral("/hold")))
            held = reply;
        else if (request.url.path() == QStringLiteral("/big"))
            reply.send({200, QByteArray(64 * 1024, 'b'), "text/plain", {}});
        else
            reply.send({200, request.url.path().toLatin1() + ":" + request.body, "text/plain", {}});
    }
};

class ConnectionGateTest : public ::testing::Test
{
protected:
    void start(ConnectionGate::Limits limits)
    {
        gate = std::make_unique<ConnectionGate>(limits);
        gate->setHandler(&handler);
        ASSERT_TRUE(gate->listen(QHostAddress::LocalHost));
    }
    std::unique_ptr<QTcpSocket> connect()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, gate->serverPort());
        EXPECT_TRUE(serveEventsUntil(
            [&] { return socket->state() == QAbstractSocket::ConnectedState; }, budgetMs(5000)));
        return socket;
    }
    static bool closed(QTcpSocket& socket)
    {
        return socket.state() == QAbstractSocket::UnconnectedState;
    }
    // What the client has read by the time the condition on it holds.
    static QByteArray readUntil(QTcpSocket& socket,
                                const std::function<bool(const QByteArray&)>& done)
    {
        QByteArray received;
        serveEventsUntil(
            [&] {
                received += socket.readAll();
                return done(received);
            },
            budgetMs(5000));
        return received;
    }
    static ConnectionGate::Limits limits()
    {
        ConnectionGate::Limits l;
        l.maxBodyBytes = 16 * 1024;
        return l;
    }

    HoldingHandler handler;
    std::unique_ptr<ConnectionGate> gate;
};

} // namespace

TEST_F(ConnectionGateTest, IdleConnectionsAreClosedButNotThoseAwaitingAnAnswer)
{
    auto l = limits();
    l.idleMs = 300;
    start(l);
    auto idle = connect();
    auto waiting = connect();
    waiting->write("GET /hold HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(serveEventsUntil([&] { return handler.held.has_value(); }, budgetMs(5000)));
    EXPECT_TRUE(serveEventsUntil([&] { return closed(*idle); }, budgetMs(5000)));
    serveEventsFor(600); // twice the idle time
    EXPECT_FALSE(closed(*waiting));
    handler.held->send({200, "late", "text/plain", {}});
    EXPECT_TRUE(readUntil(*waiting, [](const QByteArray& r) {
                    return r.endsWith("late");
                }).endsWith("late"));
}

TEST_F(ConnectionGateTest, AnswersGoInTheOrderOfTheRequestsPipelined)
{
    start(limits());
    auto client = connect();
    client->write("GET /hold HTTP/1.1\r\nHost: x\r\n\r\nGET /now HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(serveEventsUntil([&] { return handler.held.has_value(); }, budgetMs(5000)));
    serveEventsFor(100);
    EXPECT_EQ(handler.served, 1) << "the second request waits for the first's answer";
    EXPECT_EQ(client->bytesAvailable(), 0);
    handler.held->send({200, "first", "text/plain", {}});
    handler.held->send({200, "again", "text/plain", {}}); // a reply answers once
    const QByteArray received =
        readUntil(*client, [](const QByteArray& r) { return r.endsWith("/now:"); });
    EXPECT_LT(received.indexOf("first"), received.indexOf("/now:")) << received.constData();
    EXPECT_FALSE(received.contains("again"));
}

TEST_F(ConnectionGateTest, ARefusalOnTheHeadReadsNoBodyAndTakesNoMemory)
{
    start(limits());
    auto client = connect();
    client->write("POST /refuse HTTP/1.1\r\nHost: x\r\nContent-Length: 16000\r\n\r\n" +
                  QByteArray(8000, 'a'));
    const QByteArray received =
        readUntil(*client, [&](const QByteArray&) { return closed(*client); });
    EXPECT_TRUE(received.startsWith("HTTP/1.1 401 ")) << received.constData();
    EXPECT_TRUE(received.contains("Connection: close"));
    EXPECT_EQ(handler.served, 0);
    EXPECT_EQ(gate->budget().used, 0);
}

TEST_F(ConnectionGateTest, EveryStageHasItsDeadline)
{
    auto l = limits();
    l.headerMs = 400;
    l.bodyMs = 400;
    l.minBodyRate = 1'000'000; // a byte now and then earns nothing
    start(l);
    struct Case
    {
        const char* what;
        QByteArray request;
    };
    const Case cases[] = {
        {"headers", "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: aaaaaaaaaaaaaaaaaaaa"},
        {"body", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\naaaaaaaaaaaaaaaaaaaa"},
    };
    for (const Case& c : cases) {
        auto slow = connect();
        QByteArray received;
        for (qsizetype i = 0; i < c.request.size() && !closed(*slow); ++i) {
            slow->write(c.request.mid(i, 1));
            serveEventsFor(50);
            received += slow->readAll();
        }
        received += readUntil(*slow, [&](const QByteArray&) { return closed(*slow); });
        EXPECT_TRUE(received.startsWith("HTTP/1.1 408 ")) << c.what << received.constData();
    }
    // Others are served meanwhile and after.
    auto other = connect();
    other->write("GET /x HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(
        readUntil(*other, [](const QByteArray& r) { return r.endsWith("/x:"); }).endsWith("/x:"));
}

TEST_F(ConnectionGateTest, WhenEveryConnectionIsTakenTheQuietestIdleOneMakesRoom)
{
    auto l = limits();
    l.maxConnections = 2;
    start(l);
    auto waiting = connect();
    waiting->write("GET /hold HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(serveEventsUntil([&] { return handler.held.has_value(); }, budgetMs(5000)));
    auto idle = connect();
    serveEventsFor(50);
    auto late = connect();
    late->write("GET /late HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(readUntil(*late, [](const QByteArray& r) {
                    return r.endsWith("/late:");
                }).endsWith("/late:"));
    EXPECT_TRUE(closed(*idle));
    EXPECT_FALSE(closed(*waiting)) << "one that awaits its answer is never closed for room";
}

TEST_F(ConnectionGateTest, AClientThatDoesNotReadItsAnswersGetsNoFurtherRequestRead)
{
    start(limits());
    auto client = connect();
    client->setReadBufferSize(1024); // it reads no more than this until asked
    QByteArray requests;
    for (int i = 0; i < 400; ++i)
        requests += "GET /big HTTP/1.1\r\nHost: x\r\n\r\n";
    client->write(requests);
    serveEventsFor(500);
    EXPECT_LT(handler.served, 400) << "26 MB of answers were taken in";
    client->setReadBufferSize(0);
    qint64 read = 0;
    serveEventsUntil(
        [&] {
            read += client->readAll().size();
            return handler.served == 400 && read >= 400 * 64 * 1024;
        },
        budgetMs(20000));
    EXPECT_EQ(handler.served, 400);
}
