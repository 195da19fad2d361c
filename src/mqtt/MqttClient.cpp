#include "MqttClient.h"

#include "platform/PeerClosed.h"

#include <QHostInfo>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/ssl.h>

namespace {

constexpr int kKeepAliveSeconds = 60;
// Room beside the payload for the topic and the properties of a job message.
constexpr qint64 kPacketOverhead = 64 * 1024;

struct PropertyList
{
    mosquitto_property* list = nullptr;
    ~PropertyList() { mosquitto_property_free_all(&list); }
};

QByteArray stringProperty(const mosquitto_property* properties, int id)
{
    char* value = nullptr;
    if (!mosquitto_property_read_string(properties, id, &value, false) || !value)
        return {};
    QByteArray text(value);
    free(value);
    return text;
}

} // namespace

MqttClient::MqttClient(MqttConfig config, QObject* parent)
    : QObject(parent), m_config(std::move(config))
{
    m_misc.setInterval(1000);
    connect(&m_misc, &QTimer::timeout, this, &MqttClient::housekeeping);
    m_giveUp.setSingleShot(true);
    m_giveUp.setInterval(kConnectSeconds * 1000);
    connect(&m_giveUp, &QTimer::timeout, this, [this] {
        if (m_connected || m_socket < 0)
            return;
        m_refusal = MqttFault{MqttFault::Kind::NoAnswer, m_config.brokerText(),
                              QString::number(kConnectSeconds)};
        unwatchSocket();
        m_misc.stop();
        if (m_mosq)
            mosquitto_disconnect(m_mosq); // closes the socket; nothing was sent that matters
        lostWith(MOSQ_ERR_NO_CONN);
    });
}

MqttClient::~MqttClient()
{
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
    unwatchSocket();
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    if (m_tls)
        SSL_CTX_free(m_tls);
}

bool MqttClient::setUp(QString& error)
{
    static const bool ready = mosquitto_lib_init() == MOSQ_ERR_SUCCESS;
    const QByteArray id = m_config.clientId.toUtf8();
    // Clean Start false: the broker keeps the subscription and what arrives while we are away.
    m_mosq = ready ? mosquitto_new(id.constData(), false, this) : nullptr;
    if (!m_mosq) {
        error = QStringLiteral("the MQTT library cannot be started");
        return false;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Small messages that wait for nothing: a reply is not held back for the next one.
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    // Nothing is written but by service(): see the class's comment.
    mosquitto_threaded_set(m_mosq, true);
    mosquitto_connect_v5_callback_set(m_mosq, &MqttClient::onConnect);
    mosquitto_disconnect_v5_callback_set(m_mosq, &MqttClient::onDisconnect);
    mosquitto_message_v5_callback_set(m_mosq, &MqttClient::onMessage);
    mosquitto_publish_v5_callback_set(m_mosq, &MqttClient::onPublish);
    if (!m_config.username.isEmpty()) {
        const QByteArray user = m_config.username.toUtf8();
        if (mosquitto_username_pw_set(m_mosq, user.constData(),
                                      m_config.password.isEmpty() ? nullptr
                                                                  : m_config.password.constData()))
            return false;
    }
    if (m_config.tls && !makeTlsContext(error))
        return false;
    // The Will: the broker says we are gone when the connection ends without a DISCONNECT.
    const QByteArray will = m_config.onlineTopic().toUtf8();
    PropertyList willProps;
    mosquitto_property_add_string(&willProps.list, MQTT_PROP_CONTENT_TYPE, "application/json");
    if (mosquitto_will_set_v5(m_mosq, will.constData(), 5, "false", 1, true, willProps.list) ==
        MOSQ_ERR_SUCCESS)
        willProps.list = nullptr; // taken by the library
    // libmosquitto 2.0 takes the CONNECT's properties only in its blocking connect, and keeps
    // them when that connect is refused for its port (before any lookup): its asynchronous
    // connect then sends them.
    PropertyList connectProps;
    mosquitto_property_add_int32(&connectProps.list, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                 uint32_t(m_config.sessionDays) * 86400u);
    // The broker sends nothing larger: a message well over the limit never reaches our memory
    // (it is dropped there); one just over it still arrives, to be refused with a reply.
    mosquitto_property_add_int32(
        &connectProps.list, MQTT_PROP_MAXIMUM_PACKET_SIZE,
        uint32_t(std::min<qint64>(m_config.maxPayloadBytes + kPacketOverhead, 0x0FFFFFFF)));
    mosquitto_connect_bind_v5(m_mosq, "", -1, kKeepAliveSeconds, nullptr, connectProps.list);
    return true;
}

void MqttClient::open()
{
    if (m_lookupId >= 0 || m_socket >= 0)
        return;
    m_refusal.reset();
    m_refused = false;
    m_ending = false;
    m_lookupId = QHostInfo::lookupHost(m_config.host, this, [this](const QHostInfo& info) {
        m_lookupId = -1;
        lookedUp(info.addresses(),
                 info.error() == QHostInfo::NoError ? QString() : info.errorString());
    });
}

void MqttClient::lookedUp(const QList<QHostAddress>& addresses, const QString& error)
{
    m_addresses = addresses;
    if (m_addresses.isEmpty()) {
        m_ending = true;
        emit lost({MqttFault::Kind::NameUnknown, m_config.host, error}, false);
        return;
    }
    connectTo(0);
}

void MqttClient::connectTo(int index)
{
    int rc = MOSQ_ERR_NO_CONN;
    for (; index < m_addresses.size(); ++index) {
        const QByteArray address = m_addresses[index].toString().toLatin1();
        // An address, so libmosquitto's own lookup (which would block) has nothing to look up.
        rc = mosquitto_connect_bind_async(m_mosq, address.constData(), m_config.port,
                                          kKeepAliveSeconds, nullptr);
        if (rc == MOSQ_ERR_SUCCESS) {
            m_addressAt = index;
            watchSocket();
            m_misc.start();
            m_giveUp.start();
            return;
        }
    }
    m_ending = true;
    // A handshake can end within the connect itself when the broker answers at once.
    if (!m_refusal)
        m_refusal = MqttFault{MqttFault::Kind::Unreachable, m_config.brokerText(),
                              QString::fromUtf8(mosquitto_strerror(rc))};
    emit lost(*m_refusal, m_refused);
}

void MqttClient::watchSocket()
{
    const int socket = mosquitto_socket(m_mosq);
    if (socket == m_socket && m_read)
        return;
    unwatchSocket();
    if (socket < 0)
        return;
    m_socket = socket;
    m_read = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
    m_write = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
    connect(m_read.get(), &QSocketNotifier::activated, this, &MqttClient::service);
    connect(m_write.get(), &QSocketNotifier::activated, this, &MqttClient::service);
    m_write->setEnabled(true); // the connection's end is told by the socket turning writable
}

void MqttClient::unwatchSocket()
{
    m_read.reset();
    m_write.reset();
    m_socket = -1;
}

void MqttClient::service()
{
    if (m_inService || !m_mosq)
        return;
    if (!m_connected && m_socket >= 0 && peerClosed(m_socket)) {
        lostWith(MOSQ_ERR_CONN_LOST);
        return;
    }
    m_inService = true;
    // Reading also carries a TLS handshake forward, whichever way the socket turned.
    int rc = mosquitto_loop_read(m_mosq, 1);
    // What was read is handed over before anything is written.
    handOver();
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(m_mosq) >= 0 && mosquitto_want_write(m_mosq))
        rc = mosquitto_loop_write(m_mosq, 1);
    m_inService = false;
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_mosq) < 0) {
        lostWith(rc);
        return;
    }
    watchSocket();
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttClient::handOver()
{
    if (m_justConnected) {
        m_justConnected = false;
        m_connected = true;
        m_giveUp.stop();
        emit connected(m_sessionPresent);
    }
    if (!m_inbox.empty()) {
        const std::vector<MqttMessage> taken = std::move(m_inbox);
        m_inbox.clear();
        emit messages(taken);
    }
    for (const int mid : std::exchange(m_acknowledged, {}))
        emit published(mid);
}

void MqttClient::housekeeping()
{
    if (m_inService || !m_mosq || m_socket < 0)
        return;
    int rc = mosquitto_loop_misc(m_mosq);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(m_mosq) >= 0 && mosquitto_want_write(m_mosq))
        rc = mosquitto_loop_write(m_mosq, 1);
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_mosq) < 0) {
        lostWith(rc);
        return;
    }
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttClient::lostWith(int rc)
{
    unwatchSocket();
    m_misc.stop();
    m_giveUp.stop();
    const bool wasConnected = m_connected;
    m_connected = false;
    m_inbox.clear();
    if (m_ending)
        return;
    // A name may have several addresses (localhost: ::1 and 127.0.0.1); the broker may listen
    // on one of them only.
    if (!wasConnected && !m_refused && m_addressAt + 1 < m_addresses.size()) {
        connectTo(m_addressAt + 1);
        return;
    }
    m_ending = true;
    if (!m_refusal)
        m_refusal =
            MqttFault{rc == MOSQ_ERR_TLS ? MqttFault::Kind::TlsFailed
                      : wasConnected     ? MqttFault::Kind::Lost
                                         : MqttFault::Kind::Unreachable,
                      m_config.brokerText(),
                      rc == MOSQ_ERR_TLS ? QString() : QString::fromUtf8(mosquitto_strerror(rc))};
    emit lost(*m_refusal, m_refused);
}

void MqttClient::drop()
{
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    unwatchSocket();
    m_misc.stop();
    m_giveUp.stop();
    m_ending = true;
    if (m_mosq && m_connected) {
        // The broker publishes the Will (online false) as for a connection that broke.
        mosquitto_disconnect_v5(m_mosq, MQTT_RC_DISCONNECT_WITH_WILL_MSG, nullptr);
        mosquitto_loop_write(m_mosq, 1);
    }
    m_connected = false;
}

int MqttClient::publish(const QString& topic, const QByteArray& payload, int qos, bool retain,
                        const Properties& properties, QString* why)
{
    if (!m_mosq)
        return -1;
    PropertyList props;
    if (!properties.contentType.isEmpty())
        mosquitto_property_add_string(&props.list, MQTT_PROP_CONTENT_TYPE,
                                      properties.contentType.constData());
    if (!properties.correlationData.isEmpty())
        mosquitto_property_add_binary(&props.list, MQTT_PROP_CORRELATION_DATA,
                                      properties.correlationData.constData(),
                                      uint16_t(properties.correlationData.size()));
    int mid = -1;
    const QByteArray name = topic.toUtf8();
    const int rc = mosquitto_publish_v5(m_mosq, &mid, name.constData(), int(payload.size()),
                                        payload.constData(), qos, retain, props.list);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (why)
            *why = QString::fromUtf8(mosquitto_strerror(rc));
        return -1;
    }
    if (!m_inService && m_write)
        m_write->setEnabled(true);
    return mid;
}

bool MqttClient::subscribe(const QString& topic, int qos)
{
    const QByteArray name = topic.toUtf8();
    const bool ok = mosquitto_subscribe_v5(m_mosq, nullptr, name.constData(), qos,
                                           MQTT_SUB_OPT_NO_LOCAL, nullptr) == MOSQ_ERR_SUCCESS;
    if (ok && !m_inService && m_write)
        m_write->setEnabled(true);
    return ok;
}

void MqttClient::onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*)
{
    auto* client = static_cast<MqttClient*>(self);
    if (rc == 0) {
        client->m_justConnected = true;
        client->m_sessionPresent = flags & 1;
        return;
    }
    client->m_refused = true;
    client->m_refusal = MqttFault{MqttFault::Kind::Refused, client->m_config.brokerText(),
                                  QString::fromUtf8(mosquitto_reason_string(rc))};
}

void MqttClient::onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*)
{
    auto* client = static_cast<MqttClient*>(self);
    if (!client->m_refusal && rc > 0 && rc < 256 && client->m_connected)
        client->m_refusal = MqttFault{MqttFault::Kind::Ended, client->m_config.brokerText(),
                                      QString::fromUtf8(mosquitto_strerror(rc))};
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message,
                           const mosquitto_property* properties)
{
    auto* client = static_cast<MqttClient*>(self);
    MqttMessage m;
    m.topic = QString::fromUtf8(message->topic);
    m.payload = QByteArray(static_cast<const char*>(message->payload), message->payloadlen);
    char* value = nullptr;
    if (mosquitto_property_read_string(properties, MQTT_PROP_CONTENT_TYPE, &value, false)) {
        m.contentType = QByteArray(value ? value : "");
        free(value);
    }
    m.responseTopic = stringProperty(properties, MQTT_PROP_RESPONSE_TOPIC);
    void* data = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &data, &length,
                                       false)) {
        m.correlationData = QByteArray(static_cast<const char*>(data), length);
        free(data);
    }
    bool skipFirst = false;
    for (const mosquitto_property* p = properties;; skipFirst = true) {
        char* name = nullptr;
        char* text = nullptr;
        p = mosquitto_property_read_string_pair(p, MQTT_PROP_USER_PROPERTY, &name, &text,
                                                skipFirst);
        if (!p)
            break;
        m.userProperties.emplace_back(QByteArray(name ? name : ""), QByteArray(text ? text : ""));
        free(name);
        free(text);
    }
    client->m_inbox.push_back(std::move(m));
}

void MqttClient::onPublish(mosquitto*, void* self, int mid, int, const mosquitto_property*)
{
    static_cast<MqttClient*>(self)->m_acknowledged.push_back(mid);
}
