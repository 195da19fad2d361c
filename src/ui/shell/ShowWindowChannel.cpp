#include "ShowWindowChannel.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {

const QByteArray kShow = "show\n";

} // namespace

ShowWindowChannel::ShowWindowChannel(const QString& lockPath, QObject* parent)
    : QObject(parent),
      m_socketPath(lockPath.endsWith(QStringLiteral(".lock")) ? lockPath.chopped(5) + ".show"
                                                              : lockPath + ".show")
{
}

ShowWindowChannel::~ShowWindowChannel()
{
    if (m_server)
        m_server->close();
}

bool ShowWindowChannel::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Whoever listened here before held the lock this instance holds now: it has gone.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath)) {
        qWarning("A second start cannot ask this one to show its window: %s",
                 qPrintable(m_server->errorString()));
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            // A client that says nothing is not kept.
            QTimer::singleShot(2000, client, &QLocalSocket::abort);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                // Only the one request is known; anything else is dropped with the client.
                if (client->bytesAvailable() > 64) {
                    client->abort();
                    return;
                }
                if (!client->canReadLine())
                    return;
                const bool show = client->readLine() == kShow;
                if (show)
                    client->write("ok\n");
                client->disconnectFromServer();
                if (show)
                    emit showRequested();
            });
        }
    });
    return true;
}

bool ShowWindowChannel::ask(int timeoutMs) const
{
    if (!QFileInfo::exists(m_socketPath))
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kShow);
    socket.flush();
    return socket.waitForReadyRead(timeoutMs) && socket.readLine() == "ok\n";
}
