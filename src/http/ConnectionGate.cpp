#include "ConnectionGate.h"

#include "HttpConnection.h"

#include <QTcpSocket>
#include <QTimer>

ConnectionGate::ConnectionGate(Limits limits, QObject* parent)
    : QTcpServer(parent), m_limits(limits)
{
    m_budget.limit = m_limits.bodyBudgetBytes;
    setMaxPendingConnections(m_limits.maxConnections);
}

ConnectionGate::~ConnectionGate()
{
    // The connections go first, while the handler they would call is still whole.
    m_handler = nullptr;
    const std::vector<HttpConnection*> open = m_connections;
    for (HttpConnection* connection : open)
        delete connection;
}

void ConnectionGate::incomingConnection(qintptr descriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (int(m_connections.size()) >= m_limits.maxConnections && !makeRoom()) {
        socket->write(HttpAnswer::error(503, "too many connections").wire(true));
        socket->disconnectFromHost();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(5000, socket, &QObject::deleteLater);
        return;
    }
    m_connections.push_back(new HttpConnection(socket, *this));
}

// The connection quiet for longest among those that are idle, still sending their headers or
// closing makes room; one whose request is being read or awaits its answer never does.
bool ConnectionGate::makeRoom()
{
    HttpConnection* quietest = nullptr;
    for (HttpConnection* connection : m_connections)
        if (connection->mayMakeRoom() &&
            (!quietest || connection->quietSinceMs() > quietest->quietSinceMs()))
            quietest = connection;
    if (!quietest)
        return false;
    quietest->close();
    closed(quietest);
    return true;
}

void ConnectionGate::closed(HttpConnection* connection)
{
    std::erase(m_connections, connection);
}
