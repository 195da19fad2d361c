#pragma once

#include "jobs/JobStore.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <functional>
#include <vector>

class DriverServer;
class StatusModel;

// Where every front (HTTP, MQTT) brings its jobs: one store, so a key is the same key whichever
// front brought it. Jobs that arrive in one round of events are made together (one flush of the
// journal, one of the input folder); a front that must know its jobs are on the disk before it
// says so to anyone (an MQTT acknowledgement) makes the round now.
class JobDesk : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxWaitingJobs = 1000;

    JobDesk(DriverServer& server, QString jobsFolder, QObject* parent = nullptr);
    ~JobDesk() override;

    // Loads the journal and settles what a restart left behind; false (with why) when it cannot.
    bool start(QString& error);

    // job: the job made (or the one its key already had, for a follower of the same round);
    // none when it could not be made, and why.
    using Made = std::function<void(const JobStore::Job* job, const QString& why)>;
    struct Submission
    {
        enum class Kind { Queued, Existing, OtherBody, TooMany } kind = Kind::Queued;
        const JobStore::Job* job = nullptr; // Existing: the key's job
    };
    // A key already used for this body (a job that was sent or waits) gives that job; for
    // another body, a refusal. Made is called when the round's jobs are made.
    Submission submit(const QString& key, const QByteArray& commandFile, QJsonObject route,
                      Made made);
    void createNow();

    const JobStore& store() const { return m_jobs; }
    const JobStore::Job* find(const QString& id) const { return m_jobs.find(id); }
    // A job's JSON as the fronts give it (waiting, or sending when its file is being sent).
    QJsonObject jobJson(const JobStore::Job& job) const;
    // That a front told its client of a job's stage; kept in the journal.
    bool recordTold(const QString& id, JobStore::Told stage);
    // Made since the start, by the front that brought them ("http", "mqtt").
    qint64 jobsMade(const QString& front) const { return m_jobsMade.value(front); }

signals:
    // A job has its verdict (its result files are on the disk; the journal takes it next).
    void jobDone(const QString& id);

private:
    struct Pending
    {
        QString key;
        QByteArray commandFile;
        QByteArray digest;
        QJsonObject route;
        Made made;
        bool follower = false; // its key is another job's of the same round
    };
    void verdictLeft(const FileVerdict& verdict);

    DriverServer& m_server;
    JobStore m_jobs;
    bool m_started = false;
    std::vector<Pending> m_toCreate;
    QTimer m_createTimer;
    QTimer m_recordTimer; // the verdicts of a round go into the journal together
    QString m_sendingFile;
    QHash<QString, qint64> m_jobsMade;
};

// The register's status as the fronts give it: register, error, lastReceipt, waiting, version.
QJsonObject registerStatusJson(const StatusModel& status, const QString& version);
// "ready", "cover-open", "paper-out", "busy" or "driver-fault".
QString registerStateName(const StatusModel& status);
