#pragma once

#include "common/SpareFiles.h"
#include "pipeline/VerdictWriter.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

// The jobs brought by a front (the HTTP front today), whatever carried them: a key is the same
// key whichever front brought it. A job is a command file like any other: written into the
// input folder as HTTP-<id>.TXT and sent by the pipeline. The jobs folder keeps one journal of
// lines: "made" (idempotency key, body digest, file), flushed before the command file exists, and
// "done" (the facts of its .OK or .KO), flushed before those files leave the input folder.
// Jobs that arrive together share one flush, and so do verdicts of one round. At start the
// journal is read and written again without the jobs made more than kKeepDays ago.
// A done job's .OK is not deleted but kept under a temporary name, and the next command file is
// written over it: making a file is the dearest step of a job on some file systems, and the
// folder path has its clients make theirs. What a stop leaves of them goes at the next start
// with the other temporary files.
class JobStore
{
public:
    static constexpr int kKeepDays = 7;

    enum class State { Waiting, Sending, Done };
    // What a front has told the client that brought a job, as its broker acknowledged it.
    enum class Told { Waiting = 1, Done = 2 };
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
        // Done without ever being sent: its command file never reached the input folder (a
        // crash came first). Its key may bring the same body again, as a new job.
        bool notSent = false;
        QString notSentText;
        std::optional<int> receipt;
        QStringList dump;
        std::optional<Failure> failure; // done and failed
        // Where the front that brought it answers (empty for a front that answers at once).
        QJsonObject route;
        int told = 0; // Told bits
        bool wasTold(Told stage) const { return told & int(stage); }
    };

    explicit JobStore(QString jobsFolder);
    ~JobStore();

    // Reads the journal and writes it again without the expired jobs; false when the folder or
    // the journal cannot be made or written. A done job expires once it is kKeepDays old by the
    // clock and jobs were made after it on kKeepDays later days: a clock put right (or wrong)
    // never makes a key forgotten early.
    bool load(const QDateTime& nowUtc);
    // After a restart: jobs whose verdict was left while nobody took it are completed from their
    // result files; a job whose command file never reached the input folder is done, not sent
    // (said in the language of languageOffset); result files a done job took over are removed.
    void reconcile(int languageOffset = 0);

    const Job* find(const QString& id) const;
    const Job* findByKey(const QString& key) const;
    int waiting() const { return m_waiting; }

    struct NewJob
    {
        QByteArray commandFile;
        QString key;
        QJsonObject route;
    };
    enum class Made { Yes, NoRecord, NoCommandFile };
    struct Creation
    {
        Made made = Made::NoRecord;
        QString id;
    };
    // Records the jobs (one flush), then writes their command files into the input folder (one
    // flush of the disk for them all where the system has one, then the folder's); a job exists
    // only when both are on the disk.
    std::vector<Creation> create(const std::vector<NewJob>& jobs, const QString& inputFolder,
                                 const QDateTime& nowUtc);

    // A verdict for one of our command files: the job takes its facts now; they are recorded,
    // and its result files leave the input folder, at the next recordVerdicts(). False when the
    // file is not a waiting job's.
    bool takeVerdict(const FileVerdict& verdict);
    bool verdictsToRecord() const { return !m_toRecord.isEmpty(); }
    void recordVerdicts();
    // That the client was told of a stage (flushed); false when it cannot be recorded.
    bool recordTold(const QString& id, Told stage);
    // The jobs with a route whose client was not told of their stage yet.
    std::vector<const Job*> untold() const;
    // The job whose command file this is, if any.
    const Job* jobOfFile(const QString& path) const;

    // {"id", "state", "outcome", "receipt", "dump", "error"}
    static QJsonObject toJson(const Job& job, State state);

    static bool isJobId(const QString& text);
    static QByteArray digestOf(const QByteArray& commandFile);
    QString journalPath() const;

private:
    bool append(const QByteArray& lines);
    QStringList expiredJobs(const QStringList& order, const QDateTime& nowUtc) const;
    void forget(const QString& id);
    void complete(Job& job, std::optional<int> receipt, const std::optional<Failure>& failure);
    static void removeResultsTakenOver(const Job& job);
    QString newId(const QDateTime& nowUtc) const;

    QString m_folder;
    std::unique_ptr<QFile> m_journal;
    QHash<QString, Job> m_jobs;
    QHash<QString, QString> m_byKey;
    QHash<QString, QString> m_byFile;
    QStringList m_toRecord;  // ids done in memory, not yet in the journal
    int m_waiting = 0;       // jobs not done
    SpareFiles m_spares{64}; // done jobs' .OK files
    mutable quint32 m_sequence = 0;
};
