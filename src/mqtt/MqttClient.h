#pragma once

#include "MqttConfig.h"
#include "MqttFault.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;
struct ssl_ctx_st;

// A message taken from the broker, with the MQTT 5 properties the link reads.
struct MqttMessage
{
    QString topic;
    QByteArray payload;
    std::optional<QByteArray> contentType;
    QByteArray responseTopic;
    QByteArray correlationData;
    std::vector<std::pair<QByteArray, QByteArray>> userProperties;
};

// One connection to the broker through libmosquitto, driven by this event loop: no thread, the
// name looked up by Qt without blocking the window, the socket watched by notifiers (made again
// for every connection; writing watched only while libmosquitto has something to write), its
// housekeeping from a timer. libmosquitto writes nothing by itself: everything it has to send
// waits for this client's own steps, and service() writes only after the messages of a read
// are handed over. So an acknowledgement (PUBACK) leaves only after whoever took the messages
// returned, and a job is in the journal before the broker may forget it.
class MqttClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int kConnectSeconds = 30;

    explicit MqttClient(MqttConfig config, QObject* parent = nullptr);
    ~MqttClient() override;

    // Makes the client and its TLS context; false (with why) when it cannot.
    bool setUp(QString& error);
    // Looks the broker up and connects; connected() or lost() follows.
    void open();
    // Drops the connection at once, without a DISCONNECT: the broker publishes the Will.
    void drop();
    bool isConnected() const { return m_connected; }

    struct Properties
    {
        QByteArray contentType;
        QByteArray correlationData;
    };
    // The message id, or -1 when libmosquitto refuses it (then why says so).
    int publish(const QString& topic, const QByteArray& payload, int qos, bool retain,
                const Properties& properties, QString* why = nullptr);
    bool subscribe(const QString& topic, int qos);

signals:
    // The broker took the connection; sessionPresent: it kept the session.
    void connected(bool sessionPresent);
    // The connection ended or could not be made; refused: the broker or TLS said no (a wrong
    // password, an unknown certificate), so retrying soon will not help.
    void lost(const MqttFault& why, bool refused);
    // The messages of one read, before anything is acknowledged.
    void messages(const std::vector<MqttMessage>& messages);
    // The broker acknowledged a publication of ours.
    void published(int mid);

private:
    friend struct MqttTls;
    static void onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
    static void onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message,
                          const mosquitto_property* properties);
    static void onPublish(mosquitto*, void* self, int mid, int reason, const mosquitto_property*);

    bool makeTlsContext(QString& error);
    void lookedUp(const QList<QHostAddress>& addresses, const QString& error);
    void connectTo(int index);
    void service();
    void housekeeping();
    void watchSocket();
    void unwatchSocket();
    void handOver();
    void lostWith(int rc);

    MqttConfig m_config;
    mosquitto* m_mosq = nullptr;
    ssl_ctx_st* m_tls = nullptr;
    QList<QHostAddress> m_addresses;
    int m_addressAt = 0; // the one being tried
    QTimer m_giveUp;     // a connection not taken within kConnectSeconds
    int m_lookupId = -1;
    int m_socket = -1;
    std::unique_ptr<QSocketNotifier> m_read;
    std::unique_ptr<QSocketNotifier> m_write;
    QTimer m_misc;
    bool m_connected = false;
    bool m_inService = false;
    bool m_ending = false; // lost() said for this connection
    std::vector<MqttMessage> m_inbox;
    std::optional<MqttFault> m_refusal; // what the broker or TLS said, for lost()
    bool m_refused = false;
    bool m_sessionPresent = false;
    bool m_justConnected = false;
    std::vector<int> m_acknowledged;
};
