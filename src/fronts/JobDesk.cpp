#include "JobDesk.h"

#include "server/DriverServer.h"

JobDesk::JobDesk(DriverServer& server, QString jobsFolder, QObject* parent)
    : QObject(parent), m_server(server), m_jobs(std::move(jobsFolder))
{
    m_createTimer.setSingleShot(true);
    m_createTimer.setInterval(0);
    connect(&m_createTimer, &QTimer::timeout, this, &JobDesk::createNow);
    m_recordTimer.setSingleShot(true);
    m_recordTimer.setInterval(0);
    connect(&m_recordTimer, &QTimer::timeout, this, [this] { m_jobs.recordVerdicts(); });
    connect(&server, &DriverServer::verdictLeft, this, &JobDesk::verdictLeft);
    connect(&server, &DriverServer::fileStarted, this,
            [this](const QString& path) { m_sendingFile = path; });
}

JobDesk::~JobDesk()
{
    m_toCreate.clear();
    m_jobs.recordVerdicts();
}

bool JobDesk::start(QString& error)
{
    if (m_started)
        return true;
    if (!m_jobs.load(QDateTime::currentDateTimeUtc())) {
        error = QStringLiteral("the jobs folder cannot be made or read");
        return false;
    }
    m_jobs.reconcile(m_server.settings().languageOffset());
    m_started = true;
    return true;
}

JobDesk::Submission JobDesk::submit(const QString& key, const QByteArray& commandFile,
                                    QJsonObject route, Made made)
{
    using Kind = Submission::Kind;
    const QByteArray digest = JobStore::digestOf(commandFile);
    const JobStore::Job* job = key.isEmpty() ? nullptr : m_jobs.findByKey(key);
    const auto inRound = std::find_if(m_toCreate.cbegin(), m_toCreate.cend(),
                                      [&](const Pending& p) { return p.key == key; });
    const bool keyInRound = !key.isEmpty() && inRound != m_toCreate.cend();
    const QByteArray keptDigest = job ? job->digest : keyInRound ? inRound->digest : QByteArray();
    if ((job || keyInRound) && keptDigest != digest)
        return {Kind::OtherBody, job};
    // A job never sent leaves its key to the same body, brought again.
    if (job && !job->notSent)
        return {Kind::Existing, job};
    if (!keyInRound && m_jobs.waiting() + int(m_toCreate.size()) >= kMaxWaitingJobs)
        return {Kind::TooMany, nullptr};
    m_toCreate.push_back(Pending{key, keyInRound ? QByteArray() : commandFile, digest,
                                 std::move(route), std::move(made), keyInRound});
    m_createTimer.start();
    return {Kind::Queued, nullptr};
}

void JobDesk::createNow()
{
    m_createTimer.stop();
    if (m_toCreate.empty())
        return;
    std::vector<Pending> round = std::move(m_toCreate);
    m_toCreate.clear();
    std::vector<JobStore::NewJob> jobs;
    std::vector<std::size_t> made;
    for (std::size_t i = 0; i < round.size(); ++i) {
        if (!round[i].follower) {
            jobs.push_back({round[i].commandFile, round[i].key, round[i].route});
            made.push_back(i);
        }
    }
    const auto created =
        m_jobs.create(jobs, m_server.settings().DirectoryInput, QDateTime::currentDateTimeUtc());
    for (std::size_t k = 0; k < made.size(); ++k) {
        Pending& pending = round[made[k]];
        if (created[k].made == JobStore::Made::Yes) {
            const JobStore::Job* job = m_jobs.find(created[k].id);
            ++m_jobsMade[job->route.value("front").toString(QStringLiteral("http"))];
            m_server.commandFileWritten(job->file);
            pending.made(job, {});
        } else {
            pending.made(nullptr, created[k].made == JobStore::Made::NoRecord
                                      ? QStringLiteral("the job cannot be recorded")
                                      : QStringLiteral("the command file cannot be written "
                                                       "into the input folder"));
        }
    }
    for (Pending& pending : round) {
        if (!pending.follower)
            continue;
        const JobStore::Job* job = m_jobs.findByKey(pending.key);
        pending.made(job, job ? QString() : QStringLiteral("the job cannot be recorded"));
    }
}

QJsonObject JobDesk::jobJson(const JobStore::Job& job) const
{
    return JobStore::toJson(job, job.file == m_sendingFile ? JobStore::State::Sending
                                                           : JobStore::State::Waiting);
}

bool JobDesk::recordTold(const QString& id, JobStore::Told stage)
{
    return m_jobs.recordTold(id, stage);
}

void JobDesk::verdictLeft(const FileVerdict& verdict)
{
    if (verdict.path == m_sendingFile)
        m_sendingFile.clear();
    // Those waiting are told first: the verdict is on the disk already, in the result files the
    // record takes over next.
    if (const JobStore::Job* job = m_jobs.jobOfFile(verdict.path);
        job && m_jobs.takeVerdict(verdict)) {
        const QString id = job->id;
        m_recordTimer.start();
        emit jobDone(id);
    }
}

QString registerStateName(const StatusModel& status)
{
    if (status.driverFault())
        return QStringLiteral("driver-fault");
    switch (status.condition()) {
    case StatusModel::Condition::Ready:
        return QStringLiteral("ready");
    case StatusModel::Condition::CoverOpen:
        return QStringLiteral("cover-open");
    case StatusModel::Condition::PaperOut:
        return QStringLiteral("paper-out");
    case StatusModel::Condition::Busy:
        return QStringLiteral("busy");
    }
    return QStringLiteral("ready");
}

QJsonObject registerStatusJson(const StatusModel& status, const QString& version)
{
    QJsonValue receipt;
    if (const auto r = status.lastReceipt())
        receipt = QJsonObject{{"number", r->number}, {"time", r->time.toString(Qt::ISODate)}};
    const QString error = status.registerErrorText();
    QJsonObject o{{"register", registerStateName(status)},
                  {"error", error.isEmpty() ? QJsonValue() : QJsonValue(error)},
                  {"lastReceipt", receipt},
                  {"waiting", status.waiting()},
                  {"version", version}};
    if (!status.linkState().isEmpty())
        o.insert("mqtt", QJsonObject{{"state", status.linkState()},
                                     {"error", status.linkFault().isEmpty()
                                                   ? QJsonValue()
                                                   : QJsonValue(status.linkFault())}});
    return o;
}
