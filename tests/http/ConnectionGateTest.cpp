#include "http/ConnectionGate.h"
#include "support/TestSupport.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <optional>

namespace {

// Answers at once, or holds the answer back (as a long wait does) for paths under /hold.
class HoldingServer : public QAbstractHttpServer
{
public:
    std::optional<QHttpServerResponder> held;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        QHttpServerResponder responder = makeResponder(request, socket);
        if (request.url().path().startsWith(QStringLiteral("/hold"))) {
            ConnectionGate::setAwaitingAnswer(socket, true);
            held.emplace(std::move(responder));
        } else {
            responder.write(QByteArray("ok"), "text/plain");
        }
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}
};

class ConnectionGateTest : public ::testing::Test
{
protected:
    void start(ConnectionGate::Limits limits)
    {
        gate = new ConnectionGate(limits, &server);
        gate->setReader(&server);
        ASSERT_TRUE(gate->listen(QHostAddress::LocalHost));
        server.bind(gate);
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

    HoldingServer server;
    ConnectionGate* gate = nullptr;
};

} // namespace

TEST_F(ConnectionGateTest, IdleConnectionsAreClosedButNotThoseAwaitingAnAnswer)
{
    start({16 * 1024, 256, 300, 60'000});
    auto idle = connect();
    auto waiting = connect();
    waiting->write("GET /hold HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(serveEventsUntil([&] { return server.held.has_value(); }, budgetMs(5000)));
    EXPECT_TRUE(serveEventsUntil([&] { return closed(*idle); }, budgetMs(5000)));
    serveEventsFor(600); // twice the idle time
    EXPECT_FALSE(closed(*waiting));
    server.held->write(QByteArray("late"), "text/plain");
    EXPECT_TRUE(
        serveEventsUntil([&] { return waiting->readAll().contains("late"); }, budgetMs(5000)));
}

TEST_F(ConnectionGateTest, HeadersThatTrickleInAreCutOffAtTheHeaderTime)
{
    start({16 * 1024, 256, 60'000, 400});
    auto slow = connect();
    QByteArray received;
    const QByteArray request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: aaaaaaaaaaaaaaaaaaaa";
    for (qsizetype i = 0; i < request.size() && !closed(*slow); ++i) {
        slow->write(request.mid(i, 1));
        serveEventsFor(50);
        received += slow->readAll();
    }
    EXPECT_TRUE(serveEventsUntil(
        [&] {
            received += slow->readAll();
            return closed(*slow);
        },
        budgetMs(5000)));
    EXPECT_TRUE(received.startsWith("HTTP/1.1 408 ")) << received.constData();
    // Others are served meanwhile and after.
    auto other = connect();
    other->write("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(serveEventsUntil([&] { return other->readAll().endsWith("ok"); }, budgetMs(5000)));
}

TEST_F(ConnectionGateTest, AChunkedBodyBeyondTheLimitIsRefusedAsItComes)
{
    start({1024, 256, 60'000, 60'000});
    auto client = connect();
    client->write("POST /x HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n");
    const QByteArray chunk = "400\r\n" + QByteArray(1024, 'a') + "\r\n";
    QByteArray received;
    for (int i = 0; i < 100 && !received.contains("413"); ++i) {
        client->write(chunk);
        serveEventsFor(5);
        received += client->readAll();
    }
    EXPECT_TRUE(received.startsWith("HTTP/1.1 413 ")) << received.left(200).constData();
}
