#pragma once

#include "pipeline/VerdictWriter.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

// The jobs of the HTTP front. A job is a command file like any other: written into the input
// folder as HTTP-<id>.TXT and sent by the pipeline. Its record, kept in the jobs folder (one
// <id>.json each, flushed before anything says the job exists), remembers its idempotency key
// and body digest, and, once the verdict is left, the facts of its .OK or .KO: those files
// then leave the input folder. Records are kept for kKeepDays after their job was made.
class HttpJobs
{
public:
    static constexpr int kKeepDays = 7;

    enum class State { Waiting, Sending, Done };
    struct Failure
    {
        qint32 code = 0;
        QString text;
        qint32 row = 0;
        QString line;
    };
    struct Job
    {
        QString id;
        QDateTime created; // UTC
        QString key;       // idempotency key, empty when none
        QByteArray digest; // SHA-256 of the command file
        QString file;      // the command file, in the input folder it was written to
        bool done = false;
        std::optional<int> receipt;
        QStringList dump;
        std::optional<Failure> failure; // done and failed
    };

    explicit HttpJobs(QString jobsFolder);

    // Reads the records and drops the expired ones; false when the folder cannot be made.
    bool load(const QDateTime& nowUtc);
    // After a restart: jobs whose verdict was left while nobody took it are completed from their
    // result files; a job whose command file is gone without a verdict is failed, never sent
    // again.
    void reconcile();
    void prune(const QDateTime& nowUtc);

    const Job* find(const QString& id) const;
    const Job* findByKey(const QString& key) const;
    int waiting() const;

    enum class Made { Yes, NoRecord, NoCommandFile };
    // Records the job, then writes its command file into the input folder (flushed); the job
    // exists only when both are on the disk.
    Made create(const QByteArray& commandFile, const QString& key, const QString& inputFolder,
                const QDateTime& nowUtc, QString& id);
    // A verdict for one of our command files: the job takes its facts and its result files go.
    // False when the file is not a job's (or the job is done already).
    bool takeVerdict(const FileVerdict& verdict);
    // The job as the verdict leaves it, before it is recorded.
    static Job withVerdict(const Job& job, const FileVerdict& verdict);
    // The job whose command file this is, if any.
    const Job* jobOfFile(const QString& path) const;

    // {"id", "state", "outcome", "receipt", "dump", "error"}
    static QJsonObject toJson(const Job& job, State state);

    static bool isJobId(const QString& text);
    static QByteArray digestOf(const QByteArray& commandFile);

private:
    QString recordPath(const QString& id) const;
    bool save(const Job& job) const;
    void complete(Job& job, std::optional<int> receipt, const std::optional<Failure>& failure);
    static void removeResultsTakenOver(const Job& job);
    static void fill(Job& job, std::optional<int> receipt, const std::optional<Failure>& failure);
    QString newId(const QDateTime& nowUtc) const;

    QString m_folder;
    QHash<QString, Job> m_jobs;
    QHash<QString, QString> m_byKey;
    QHash<QString, QString> m_byFile;
};
