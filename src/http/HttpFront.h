#pragma once

#include "ConnectionGate.h"
#include "HttpConfig.h"
#include "HttpJobs.h"
#include "RequestRules.h"
#include "pipeline/VerdictWriter.h"

#include <QAbstractHttpServer>
#include <QHttpServerResponder>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <map>
#include <vector>

class DriverServer;
class QHttpServerRequest;

// The HTTP front: command files posted by programs that cannot write into the input folder,
// their verdicts, the register's status and a live page. Every /v1 request bears the token;
// the Host must name this machine as it listens (no other name can be made to point here) and
// a browser may call from the listed origins only.
class HttpFront : public QAbstractHttpServer
{
    Q_OBJECT
public:
    static constexpr int kMaxWaitingJobs = 1000;
    static constexpr int kMaxWaitSeconds = 120;
    static constexpr int kDefaultWaitSeconds = 30;
    static constexpr int kVerdictsShown = 100;

    struct Options
    {
        QString version;
        ConnectionGate::Limits limits;
        int eventsHoldMs = 25'000; // how long the page's request for news is held
    };

    HttpFront(HttpConfig config, DriverServer& server, QString jobsFolder, Options options,
              QObject* parent = nullptr);
    ~HttpFront() override;

    // Loads the jobs, settles those a restart left behind, and listens; false (with why) when
    // it cannot.
    bool start(QString& error);
    quint16 port() const { return m_gate->serverPort(); }
    // The live page's address, with the token in its fragment (never sent to the server).
    QString pageUrl() const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Answer
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        QList<QPair<QByteArray, QByteArray>> headers;
        void header(const QByteArray& name, const QByteArray& value)
        {
            headers.append({name, value});
        }
    };
    // An answer held back is known by its number only: it may be released inside a wait for
    // the register, and anything that still names it afterwards (its timer, its socket's end)
    // must find nothing rather than a freed entry.
    struct Held
    {
        QPointer<QTcpSocket> socket;
        QHttpServerResponder responder;
        QByteArray origin;
        QString jobId;     // a job's verdict is awaited; else the page's news
        quint64 after = 0; // the page's news: newer than this
        QTimer* timer = nullptr;
        QMetaObject::Connection socketGone;
    };

    void route(const QHttpServerRequest& request, QTcpSocket* socket, const QByteArray& origin);
    void postFile(const QHttpServerRequest& request, QTcpSocket* socket, const QByteArray& origin);
    void answer(const QHttpServerRequest& request, QTcpSocket* socket, const QByteArray& origin,
                const Answer& answer);
    static void write(QHttpServerResponder& responder, const Answer& answer,
                      const QByteArray& origin, const QStringList& allowOrigins);
    void hold(const QHttpServerRequest& request, QTcpSocket* socket, const QByteArray& origin,
              const QString& jobId, quint64 after, int ms);
    void hold(QHttpServerResponder&& responder, QTcpSocket* socket, const QByteArray& origin,
              const QString& jobId, quint64 after, int ms);
    // A post waiting for the round's jobs to be made.
    struct Pending
    {
        QHttpServerResponder responder;
        QPointer<QTcpSocket> socket;
        QByteArray origin;
        int wait = 0;
        QString key;
        QByteArray commandFile;
        QByteArray digest;
        bool follower = false; // its key is another post's of the same round
    };
    void createPending();
    void answerPending(Pending& pending, const HttpJobs::Job* job, const QString& why = {});
    void heldTimedOut(quint64 id);
    void release(quint64 id, const Answer& answer);
    void drop(quint64 id);
    std::vector<quint64> heldIds() const;
    void releaseJob(const QString& id, const HttpJobs::Job& done);
    void releaseNews();

    Answer jobAnswer(const HttpJobs::Job& job, int status) const;
    QJsonObject statusJson() const;
    QJsonObject newsJson() const;
    static Answer error(int status, const QString& text, int row = 0);

    void verdictLeft(const FileVerdict& verdict);
    void newsHappened();

    HttpConfig m_config;
    RequestRules m_rules{m_config};
    DriverServer& m_server;
    HttpJobs m_jobs;
    Options m_options;
    ConnectionGate* m_gate;
    std::map<quint64, Held> m_held;
    quint64 m_lastHeld = 0;
    std::vector<Pending> m_toCreate;
    QTimer m_createTimer;
    QTimer m_recordTimer; // the verdicts of a round go into the journal together
    QString m_sendingFile;
    quint64 m_newsSeq = 1;
    QTimer m_newsTimer;
    std::deque<QJsonObject> m_verdicts; // newest first
};
