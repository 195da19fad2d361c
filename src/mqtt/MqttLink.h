#pragma once

#include "MqttClient.h"
#include "MqttConfig.h"
#include "fronts/JobDesk.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>

class DriverServer;

// The link to an MQTT broker for point-of-sale programs that cannot reach this machine: it
// connects out, takes the jobs of R/jobs (each a command file with a key), answers each on its
// Response Topic (else R/verdicts) once it is kept and once it is done, and keeps R/status and
// R/online current. A job is in the journal before the broker hears it arrived; a reply the
// broker has not acknowledged is published again after a reconnection or a restart.
class MqttLink : public QObject
{
    Q_OBJECT
public:
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 60'000;
    static constexpr int kStatusEveryMs = 300; // at most about three statuses a second

    struct Options
    {
        QString version;
        // Where stderr lines go (once per change of the link's state).
        std::function<void(const QString&)> say;
    };

    MqttLink(MqttConfig config, DriverServer& server, JobDesk& desk, Options options,
             QObject* parent = nullptr);
    ~MqttLink() override;

    // Sets the client up and connects; false (with why) when the link cannot work at all.
    bool start(QString& error);
    // Said before the program ends: the broker publishes the Will (online false) now.
    void stop();

    // The backoff before retry n (from 0), with up to a fifth more or less of jitter.
    static int retryDelayMs(int attempt, QRandomGenerator& random);

private:
    struct Told
    {
        QString jobId;
        JobStore::Told stage = JobStore::Told::Waiting;
    };
    void connected();
    void lost(const MqttFault& why, bool refused);
    void messages(const std::vector<MqttMessage>& messages);
    void take(const MqttMessage& message);
    void reply(const QString& topic, const QByteArray& correlation, const QJsonObject& body,
               const QString& jobId = {}, JobStore::Told stage = JobStore::Told::Waiting);
    void tellJob(const JobStore::Job& job, JobStore::Told stage);
    void jobDone(const QString& id);
    void published(int mid);
    void publishStatus();
    void setState(const QString& state, const std::optional<MqttFault>& fault);

    MqttConfig m_config;
    DriverServer& m_server;
    JobDesk& m_desk;
    Options m_options;
    MqttClient m_client;
    QTimer m_retry;
    int m_attempt = 0;
    QRandomGenerator m_random;
    QTimer m_statusTimer;
    QByteArray m_statusShown; // last status published, while connected
    std::map<int, Told> m_inFlight;
    // Clients that brought a job again with another reply topic: told of its verdict too.
    std::multimap<QString, std::pair<QString, QByteArray>> m_alsoTell;
    std::optional<MqttFault> m_fault; // none while the link works
    bool m_refused = false;
    bool m_stopping = false;
    bool m_wasUp = false; // connected once since the start
};
