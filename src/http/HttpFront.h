#pragma once

#include "ConnectionGate.h"
#include "HttpConfig.h"
#include "Metrics.h"
#include "RequestRules.h"
#include "fronts/JobDesk.h"
#include "pipeline/VerdictWriter.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QTimer>
#include <deque>
#include <map>
#include <vector>

class DriverServer;

// The HTTP front: command files posted by programs that cannot write into the input folder,
// their verdicts, the register's status and a live page. Every /v1 request bears the token;
// the Host must name this machine as it listens (no other name can be made to point here) and
// a browser may call from the listed origins only.
class HttpFront : public QObject, private RequestHandler
{
    Q_OBJECT
public:
    static constexpr int kMaxWaitSeconds = 120;
    static constexpr int kDefaultWaitSeconds = 30;
    static constexpr int kVerdictsShown = 100;

    struct Options
    {
        QString version;
        ConnectionGate::Limits limits;
        int eventsHoldMs = 25'000; // how long the page's request for news is held
    };

    HttpFront(HttpConfig config, DriverServer& server, JobDesk& desk, Options options,
              QObject* parent = nullptr);
    ~HttpFront() override;

    // Listens; false (with why) when it cannot.
    bool start(QString& error);
    quint16 port() const { return m_gate->serverPort(); }
    // The live page's address, with the token in its fragment (never sent to the server).
    QString pageUrl() const;

private:
    using Answer = HttpAnswer;
    // An answer held back is known by its number only: it may be released inside a wait for
    // the register, and anything that still names it afterwards (its timer, its connection's end)
    // must find nothing rather than a freed entry.
    struct Held
    {
        HttpReply reply;
        QByteArray origin;
        QString jobId;     // a job's verdict is awaited; else the page's news
        quint64 after = 0; // the page's news: newer than this
        QTimer* timer = nullptr;
        QMetaObject::Connection connectionGone;
    };

    // Who asks is judged on the head: everything but a /v1 request bearing the token is
    // answered there, before any body is read.
    std::optional<Answer> judge(const HttpRequest& head) override;
    std::optional<Answer> page(const HttpRequest& head, const QByteArray& origin) const;
    void serve(HttpRequest& request, HttpReply reply) override;
    void postFile(HttpRequest& request, HttpReply& reply, const QByteArray& origin);
    Answer withCommonHeaders(Answer answer, const QByteArray& origin) const;
    void send(HttpReply& reply, const Answer& answer, const QByteArray& origin) const;
    void hold(HttpReply reply, const QByteArray& origin, const QString& jobId, quint64 after,
              int ms);
    void answerMade(HttpReply& reply, const QByteArray& origin, int wait, const JobStore::Job* job,
                    const QString& why);
    void heldTimedOut(quint64 id);
    void release(quint64 id, const Answer& answer);
    void drop(quint64 id);
    std::vector<quint64> heldIds() const;
    void releaseJob(const QString& id, const JobStore::Job& done);
    void releaseNews();

    Answer jobAnswer(const JobStore::Job& job, int status) const;
    QJsonObject statusJson() const;
    MetricsSample metricsSample() const;
    QJsonObject newsJson() const;
    static Answer error(int status, const QString& text, int row = 0);

    void verdictLeft(const FileVerdict& verdict);
    void newsHappened();

    HttpConfig m_config;
    RequestRules m_rules{m_config};
    DriverServer& m_server;
    JobDesk& m_desk;
    Options m_options;
    ConnectionGate* m_gate;
    std::map<quint64, Held> m_held;
    quint64 m_lastHeld = 0;
    quint64 m_newsSeq = 1;
    QTimer m_newsTimer;
    std::deque<QJsonObject> m_verdicts; // newest first
    // Counted since the front started, with the program.
    qint64 m_filesSent = 0;
    qint64 m_filesFailed = 0;
    QElapsedTimer m_sinceLastSent;
};
