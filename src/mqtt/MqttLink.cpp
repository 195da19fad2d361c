#include "MqttLink.h"

#include "JobMessage.h"
#include "server/DriverServer.h"

#include <QJsonDocument>
#include <csignal>
#include <cstdlib>

namespace {

QByteArray compact(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Tests stop the program by SIGKILL at the two moments that matter to a message: taken, and
// kept in the journal but not yet acknowledged.
void stopHereIfAsked(const char* moment)
{
    static const QByteArray asked = qgetenv("QDS_MQTT_KILL_AT");
    if (asked.isEmpty() || asked != moment)
        return;
#ifdef SIGKILL
    std::raise(SIGKILL);
#endif
    std::_Exit(137);
}

QJsonObject routeOf(const QString& topic, const QByteArray& correlation)
{
    return {{"front", "mqtt"},
            {"topic", topic},
            {"correlation", QString::fromLatin1(correlation.toBase64())}};
}

} // namespace

MqttLink::MqttLink(MqttConfig config, DriverServer& server, JobDesk& desk, Options options,
                   QObject* parent)
    : QObject(parent), m_config(config), m_server(server), m_desk(desk),
      m_options(std::move(options)), m_client(config), m_random(QRandomGenerator::securelySeeded())
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        setState(QStringLiteral("connecting"), m_fault);
        m_client.open();
    });
    m_statusTimer.setSingleShot(true);
    m_statusTimer.setInterval(kStatusEveryMs);
    connect(&m_statusTimer, &QTimer::timeout, this, &MqttLink::publishStatus);
    connect(&m_client, &MqttClient::connected, this, &MqttLink::connected);
    connect(&m_client, &MqttClient::lost, this, &MqttLink::lost);
    connect(&m_client, &MqttClient::messages, this, &MqttLink::messages);
    connect(&m_client, &MqttClient::published, this, &MqttLink::published);
    connect(&desk, &JobDesk::jobDone, this, &MqttLink::jobDone);
    connect(&server.status(), &StatusModel::changed, this, [this] {
        if (!m_statusTimer.isActive())
            m_statusTimer.start();
    });
}

MqttLink::~MqttLink()
{
    stop();
}

int MqttLink::retryDelayMs(int attempt, QRandomGenerator& random)
{
    const qint64 base =
        std::min<qint64>(qint64(kFirstRetryMs) << std::min(attempt, 16), kLastRetryMs);
    const qint64 spread = base / 5;
    return int(std::clamp<qint64>(base - spread + random.bounded(2 * spread + 1), kFirstRetryMs,
                                  kLastRetryMs));
}

bool MqttLink::start(QString& error)
{
    if (!m_desk.start(error) || !m_client.setUp(error))
        return false;
    setState(QStringLiteral("connecting"), {});
    m_client.open();
    return true;
}

void MqttLink::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_retry.stop();
    m_statusTimer.stop();
    m_client.drop();
}

void MqttLink::setState(const QString& state, const std::optional<MqttFault>& fault)
{
    // In the program's language; what libmosquitto or TLS said stays as they said it.
    const bool italian = m_server.settings().languageOffset() == 0;
    m_server.status().linkChanged(
        state, !fault    ? QString()
               : italian ? QStringLiteral("Collegamento MQTT interrotto: ") + fault->text(true)
                         : QStringLiteral("MQTT link down: ") + fault->text(false));
}

void MqttLink::connected()
{
    m_retry.stop();
    m_attempt = 0;
    if (m_options.say && (m_fault || !m_wasUp))
        m_options.say(
            m_wasUp ? QStringLiteral("the MQTT link to %1 works again").arg(m_config.brokerText())
                    : QStringLiteral("the MQTT link to %1 is up").arg(m_config.brokerText()));
    m_wasUp = true;
    m_fault.reset();
    m_refused = false;
    setState(QStringLiteral("connected"), {});
    m_client.subscribe(m_config.jobsTopic(), 1);
    m_client.publish(m_config.onlineTopic(), "true", 1, true, {"application/json", {}});
    m_statusShown.clear();
    publishStatus();
    // What the broker had not acknowledged before the connection (or the program) ended.
    m_inFlight.clear();
    for (const JobStore::Job* job : m_desk.store().untold())
        tellJob(*job, job->done ? JobStore::Told::Done : JobStore::Told::Waiting);
}

void MqttLink::lost(const MqttFault& why, bool refused)
{
    m_inFlight.clear();
    m_statusShown.clear();
    if (m_stopping)
        return;
    // Said when the link goes down, and again only when the broker's answer turns to a refusal
    // or back: a broker away for an hour is one line, not one per retry.
    if ((!m_fault || refused != m_refused) && m_options.say)
        m_options.say(QStringLiteral("the MQTT link is down, retrying: %1").arg(why.text()));
    m_fault = why;
    m_refused = refused;
    setState(QStringLiteral("offline"), why);
    // Retried all the same after a refusal: a password or a certificate may be put right.
    m_retry.start(retryDelayMs(m_attempt++, m_random));
}

void MqttLink::messages(const std::vector<MqttMessage>& messages)
{
    stopHereIfAsked("arrived");
    for (const MqttMessage& message : messages)
        take(message);
    // The jobs are made now: their acknowledgements leave when this returns.
    m_desk.createNow();
    stopHereIfAsked("journaled");
}

void MqttLink::take(const MqttMessage& message)
{
    const JobMessageCheck check = checkJobMessage(
        message, m_config.jobsTopic(), m_config.verdictsTopic(), m_config.maxPayloadBytes);
    const QByteArray& correlation = message.correlationData;
    if (!check.ok) {
        reply(check.replyTopic, correlation, refusalJson(check));
        return;
    }
    using Kind = JobDesk::Submission::Kind;
    const QString topic = check.replyTopic;
    const JobDesk::Submission submitted = m_desk.submit(
        check.key, check.commandFile, routeOf(topic, correlation),
        [this, topic, correlation, key = check.key](const JobStore::Job* job, const QString& why) {
            if (!job) {
                JobMessageCheck refused;
                refused.status = 503;
                refused.error = why;
                refused.key = key;
                reply(topic, correlation, refusalJson(refused));
                return;
            }
            if (job->route == routeOf(topic, correlation)) {
                tellJob(*job, job->done ? JobStore::Told::Done : JobStore::Told::Waiting);
                return;
            }
            // Another message of the same round with this key: told as a retry is.
            reply(topic, correlation, m_desk.jobJson(*job));
            if (!job->done)
                m_alsoTell.emplace(job->id, std::make_pair(topic, correlation));
        });
    JobMessageCheck refused = check;
    switch (submitted.kind) {
    case Kind::Queued:
        return;
    case Kind::Existing: {
        const JobStore::Job& job = *submitted.job;
        // A redelivery or a retry: the job as it stands, and its verdict when it comes.
        reply(topic, correlation, m_desk.jobJson(job));
        if (!job.done && job.route != routeOf(topic, correlation))
            m_alsoTell.emplace(job.id, std::make_pair(topic, correlation));
        return;
    }
    case Kind::OtherBody:
        refused.status = 422;
        refused.error =
            QStringLiteral("the key %1 was used for another command file").arg(check.key);
        break;
    case Kind::TooMany:
        refused.status = 503;
        refused.error = QStringLiteral("too many jobs are waiting");
        break;
    }
    reply(topic, correlation, refusalJson(refused));
}

void MqttLink::reply(const QString& topic, const QByteArray& correlation, const QJsonObject& body,
                     const QString& jobId, JobStore::Told stage)
{
    const int mid =
        m_client.publish(topic, compact(body), 1, false, {"application/json", correlation});
    if (mid >= 0 && !jobId.isEmpty())
        m_inFlight[mid] = Told{jobId, stage};
}

void MqttLink::tellJob(const JobStore::Job& job, JobStore::Told stage)
{
    if (!m_client.isConnected())
        return; // told after the next connection, from the journal
    const QString topic = job.route.value("topic").toString();
    const QByteArray correlation =
        QByteArray::fromBase64(job.route.value("correlation").toString().toLatin1());
    reply(topic.isEmpty() ? m_config.verdictsTopic() : topic, correlation, m_desk.jobJson(job),
          job.id, stage);
}

void MqttLink::jobDone(const QString& id)
{
    const JobStore::Job* job = m_desk.find(id);
    if (!job)
        return;
    if (job->route.value("front").toString() == u"mqtt")
        tellJob(*job, JobStore::Told::Done);
    const auto [from, to] = m_alsoTell.equal_range(id);
    for (auto it = from; it != to; ++it)
        reply(it->second.first, it->second.second, m_desk.jobJson(*job));
    m_alsoTell.erase(from, to);
}

void MqttLink::published(int mid)
{
    const auto it = m_inFlight.find(mid);
    if (it == m_inFlight.end())
        return;
    m_desk.recordTold(it->second.jobId, it->second.stage);
    m_inFlight.erase(it);
}

void MqttLink::publishStatus()
{
    if (!m_client.isConnected())
        return;
    QJsonObject status = registerStatusJson(m_server.status(), m_options.version);
    status.insert("stateText", m_server.status().stateText());
    const QByteArray text = compact(status);
    if (text == m_statusShown)
        return;
    if (m_client.publish(m_config.statusTopic(), text, 1, true, {"application/json", {}}) >= 0)
        m_statusShown = text;
}
