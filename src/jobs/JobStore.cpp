#include "JobStore.h"

#include "common/AtomicFile.h"
#include "common/Cp1252.h"
#include "common/platform/FileIo.h"
#include "driver/ResultCodes.h"
#include "messages/MessageCatalogue.h"
#include "pipeline/ResultFiles.h"
#include "settings/Settings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <algorithm>
#include <set>

namespace {

const QString kPrefix = QStringLiteral("HTTP-");

QByteArray readAll(const QString& path)
{
    const auto file = openRegularFileForReading(path);
    return file ? file->readAll() : QByteArray();
}

QStringList dumpTexts(const QString& okPath)
{
    QStringList texts;
    const QString marker = QStringLiteral(";Dump=");
    for (const QString& line : decodeCp1252(readAll(okPath)).split(u'\n', Qt::SkipEmptyParts)) {
        QString text = line.endsWith(u'\r') ? line.chopped(1) : line;
        if (const qsizetype at = text.indexOf(marker); at >= 0)
            texts.append(text.mid(at + marker.size()));
    }
    return texts;
}

std::optional<JobStore::Failure> failureIn(const QString& koPath)
{
    const auto f = parseFailureRecord(decodeCp1252(readAll(koPath)));
    if (!f)
        return std::nullopt;
    return JobStore::Failure{f->code, f->message, f->row, f->line};
}

QJsonObject failureJson(const JobStore::Failure& f)
{
    return {{"code", f.code}, {"text", f.text}, {"row", f.row}, {"line", f.line}};
}

QString notSentText(int languageOffset)
{
    return languageOffset == 0
               ? QStringLiteral("Il file di comandi non è mai arrivato nella cartella di input: "
                                "non è stato inviato. Lo si può inviare di nuovo con la stessa "
                                "chiave.")
               : QStringLiteral("The command file never reached the input folder: it was not "
                                "sent. It may be posted again with the same key.");
}

} // namespace

JobStore::JobStore(QString jobsFolder) : m_folder(withTrailingSeparator(std::move(jobsFolder))) {}

JobStore::~JobStore() = default;

bool JobStore::isJobId(const QString& text)
{
    static const QRegularExpression id(QStringLiteral("^\\d{17}-[0-9a-f]{4}$"));
    return id.match(text).hasMatch();
}

QByteArray JobStore::digestOf(const QByteArray& commandFile)
{
    return QCryptographicHash::hash(commandFile, QCryptographicHash::Sha256).toHex();
}

QString JobStore::journalPath() const
{
    return m_folder + QStringLiteral("jobs.journal");
}

namespace {

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray madeLine(const JobStore::Job& job)
{
    QJsonObject o{{"op", "made"},
                  {"id", job.id},
                  {"created", job.created.toString(Qt::ISODateWithMs)},
                  {"key", job.key},
                  {"digest", QString::fromLatin1(job.digest)},
                  {"file", job.file}};
    if (!job.route.isEmpty())
        o.insert("route", job.route);
    return line(o);
}

QByteArray toldLine(const QString& id, int told)
{
    return line({{"op", "told"}, {"id", id}, {"told", told}});
}

QByteArray doneLine(const JobStore::Job& job)
{
    QJsonArray dump;
    for (const QString& text : job.dump)
        dump.append(text);
    QJsonObject o{{"op", "done"}, {"id", job.id}, {"dump", dump}};
    if (job.notSent)
        o.insert("notSent", job.notSentText);
    if (job.receipt)
        o.insert("receipt", *job.receipt);
    if (job.failure)
        o.insert("failure", failureJson(*job.failure));
    return line(o);
}

QByteArray dropLine(const QString& id)
{
    return line({{"op", "drop"}, {"id", id}});
}

} // namespace

bool JobStore::load(const QDateTime& nowUtc)
{
    if (!QDir().mkpath(m_folder))
        return false;
    // Only whole lines count: a crash may have cut the last one short.
    const QList<QByteArray> lines = readAll(journalPath()).split('\n');
    QStringList order; // the jobs as they were made
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
        const QString op = o.value("op").toString();
        const QString id = o.value("id").toString();
        if (op == u"made") {
            Job job;
            job.id = id;
            job.created = QDateTime::fromString(o.value("created").toString(), Qt::ISODateWithMs);
            job.key = o.value("key").toString();
            job.digest = o.value("digest").toString().toLatin1();
            job.file = o.value("file").toString();
            job.route = o.value("route").toObject();
            if (!isJobId(id) || !job.created.isValid() || job.file.isEmpty())
                continue;
            m_jobs.insert(id, job);
            order.append(id);
            if (!job.key.isEmpty())
                m_byKey.insert(job.key, id);
            m_byFile.insert(job.file, id);
        } else if (op == u"done" && m_jobs.contains(id)) {
            Job& job = m_jobs[id];
            job.done = true;
            job.notSent = o.contains("notSent");
            job.notSentText = o.value("notSent").toString();
            if (o.value("receipt").isDouble())
                job.receipt = o.value("receipt").toInt();
            job.dump.clear();
            for (const auto& text : o.value("dump").toArray())
                job.dump.append(text.toString());
            if (const QJsonObject f = o.value("failure").toObject(); !f.isEmpty())
                job.failure = Failure{f.value("code").toInt(), f.value("text").toString(),
                                      f.value("row").toInt(), f.value("line").toString()};
        } else if (op == u"told" && m_jobs.contains(id)) {
            m_jobs[id].told |= o.value("told").toInt();
        } else if (op == u"drop") {
            forget(id);
        }
    }
    for (const QString& id : expiredJobs(order, nowUtc))
        forget(id);
    m_waiting = int(
        std::count_if(m_jobs.cbegin(), m_jobs.cend(), [](const Job& job) { return !job.done; }));
    // Written again as it stands: expired jobs and a cut line go.
    QByteArray text;
    for (const Job& job : std::as_const(m_jobs))
        text += madeLine(job) + (job.done ? doneLine(job) : QByteArray()) +
                (job.told ? toldLine(job.id, job.told) : QByteArray());
    if (!replaceOwnFile(journalPath(), text) || !flushFolder(m_folder))
        return false;
    m_journal = openOwnFile(journalPath(), OwnFileMode::Append);
    return m_journal != nullptr;
}

bool JobStore::append(const QByteArray& lines)
{
    if (!m_journal)
        return false;
    const qint64 before = m_journal->size();
    if (m_journal->write(lines) == lines.size() && m_journal->flush() && flushToDisk(*m_journal))
        return true;
    // A line cut short would swallow the next one.
    m_journal->resize(before);
    return false;
}

QStringList JobStore::expiredJobs(const QStringList& order, const QDateTime& nowUtc) const
{
    // From the newest back: the days on which later jobs were made, by their own times.
    QStringList expired;
    std::set<qint64> laterDays;
    for (auto id = order.crbegin(); id != order.crend(); ++id) {
        const auto it = m_jobs.constFind(*id);
        if (it == m_jobs.cend())
            continue;
        const qint64 day = it->created.date().toJulianDay();
        const bool daysPassed =
            std::distance(laterDays.upper_bound(day), laterDays.end()) >= kKeepDays;
        if (it->done && it->created.addDays(kKeepDays) < nowUtc && daysPassed)
            expired.append(*id);
        // Only the newest kKeepDays days can matter.
        laterDays.insert(day);
        if (laterDays.size() > std::size_t(kKeepDays))
            laterDays.erase(laterDays.begin());
    }
    return expired;
}

void JobStore::forget(const QString& id)
{
    const auto it = m_jobs.constFind(id);
    if (it == m_jobs.cend())
        return;
    if (!it->done)
        --m_waiting;
    // A key or a file may have passed to a later job since.
    if (!it->key.isEmpty() && m_byKey.value(it->key) == id)
        m_byKey.remove(it->key);
    if (m_byFile.value(it->file) == id)
        m_byFile.remove(it->file);
    m_jobs.erase(it);
}

void JobStore::reconcile(int languageOffset)
{
    for (Job& job : m_jobs) {
        if (job.done) {
            removeResultsTakenOver(job);
            continue;
        }
        const QString base = resultBaseFor(job.file);
        const QString ok = base + QStringLiteral(".OK");
        const QString ko = base + QStringLiteral(".KO");
        const bool hasKo = fileStatus(ko).type == FileStatus::Type::Regular;
        const bool hasOk = fileStatus(ok).type == FileStatus::Type::Regular;
        const bool hasFile = fileStatus(job.file).type != FileStatus::Type::Missing;
        if (hasKo) {
            complete(job, std::nullopt,
                     failureIn(ko).value_or(Failure{ResultCode::CannotSend, QString(), 0, {}}));
        } else if (hasOk && !hasFile) {
            complete(job, std::nullopt, std::nullopt);
        } else if (!hasFile) {
            // The pipeline deletes a file only after its verdict is on the disk, and the
            // verdict leaves only once the journal holds it: no file and no verdict is a file
            // that never reached the folder (a crash between this line and its writing).
            complete(job, std::nullopt, std::nullopt);
            job.notSent = true;
            job.notSentText = notSentText(languageOffset);
        }
    }
    recordVerdicts();
}

void JobStore::removeResultsTakenOver(const Job& job)
{
    // A crash can come between the journal taking the results over and their removal. Results
    // that say something else (the file was dropped again by hand and sent anew) stay.
    const QString base = resultBaseFor(job.file);
    const QString ok = base + QStringLiteral(".OK");
    const QString ko = base + QStringLiteral(".KO");
    if (fileStatus(ok).type == FileStatus::Type::Missing &&
        fileStatus(ko).type == FileStatus::Type::Missing)
        return;
    const auto failure = failureIn(ko);
    const bool same =
        dumpTexts(ok) == job.dump && bool(failure) == bool(job.failure) &&
        (!failure || (failure->code == job.failure->code && failure->row == job.failure->row &&
                      failure->line == job.failure->line));
    if (!same)
        return;
    removeFile(ok);
    removeFile(ko);
}

const JobStore::Job* JobStore::find(const QString& id) const
{
    const auto it = m_jobs.constFind(id);
    return it == m_jobs.cend() ? nullptr : &*it;
}

const JobStore::Job* JobStore::findByKey(const QString& key) const
{
    const auto it = m_byKey.constFind(key);
    return it == m_byKey.cend() ? nullptr : find(*it);
}

const JobStore::Job* JobStore::jobOfFile(const QString& path) const
{
    const auto it = m_byFile.constFind(path);
    return it == m_byFile.cend() ? nullptr : find(*it);
}

QString JobStore::newId(const QDateTime& nowUtc) const
{
    // Time, then a count: jobs are sent in the order of their names, which is the order they
    // came in, also within one millisecond.
    for (;;) {
        const QString id = nowUtc.toString(QStringLiteral("yyyyMMddHHmmsszzz")) + u'-' +
                           QStringLiteral("%1").arg(m_sequence++ & 0xFFFF, 4, 16, QLatin1Char('0'));
        if (!m_jobs.contains(id))
            return id;
    }
}

std::vector<JobStore::Creation> JobStore::create(const std::vector<NewJob>& jobs,
                                                 const QString& inputFolder,
                                                 const QDateTime& nowUtc)
{
    std::vector<Creation> results(jobs.size());
    QByteArray lines;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        Job job;
        job.id = newId(nowUtc);
        job.created = nowUtc;
        job.key = jobs[i].key;
        job.digest = digestOf(jobs[i].commandFile);
        job.route = jobs[i].route;
        job.file = pathInFolder(inputFolder, kPrefix + job.id + QStringLiteral(".TXT"));
        lines += madeLine(job);
        results[i].id = job.id;
        m_jobs.insert(job.id, job);
    }
    // The journal first: a command file never exists without the line that keeps its key.
    if (!append(lines)) {
        for (const Creation& c : results)
            m_jobs.remove(c.id);
        return results;
    }
    QByteArray dropped;
    std::vector<OwnFile> files;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const QString& file = m_jobs[results[i].id].file;
        files.push_back({file, jobs[i].commandFile, m_spares.take(folderOf(file))});
    }
    const std::vector<bool> written = replaceOwnFiles(files);
    for (std::size_t i = 0; i < jobs.size(); ++i)
        results[i].made = written[i] ? Made::Yes : Made::NoCommandFile;
    // The files are on the disk only once their folder is.
    const bool flushed = flushFolder(withTrailingSeparator(inputFolder));
    for (Creation& c : results) {
        Job& job = m_jobs[c.id];
        if (c.made == Made::Yes && flushed) {
            if (!job.key.isEmpty())
                m_byKey.insert(job.key, job.id);
            m_byFile.insert(job.file, job.id);
            ++m_waiting;
            continue;
        }
        c.made = Made::NoCommandFile;
        removeFile(job.file);
        dropped += dropLine(job.id);
        m_jobs.remove(c.id);
    }
    // Not accepted: the key may be used again. Should this line be lost, the next start fails
    // the job (its file is gone), which never sends anything.
    if (!dropped.isEmpty())
        append(dropped);
    return results;
}

void JobStore::complete(Job& job, std::optional<int> receipt, const std::optional<Failure>& failure)
{
    if (!job.done)
        --m_waiting;
    job.done = true;
    job.receipt = failure ? std::nullopt : receipt;
    job.failure = failure;
    job.dump = dumpTexts(resultBaseFor(job.file) + QStringLiteral(".OK"));
    m_toRecord.append(job.id);
}

bool JobStore::takeVerdict(const FileVerdict& verdict)
{
    const auto it = m_byFile.constFind(verdict.path);
    if (it == m_byFile.cend())
        return false;
    Job& job = m_jobs[*it];
    if (job.done)
        return false;
    std::optional<Failure> failure;
    if (verdict.code != 0)
        failure = Failure{verdict.code, verdict.text, verdict.row, verdict.line};
    complete(job, verdict.receipt, failure);
    return true;
}

void JobStore::recordVerdicts()
{
    QByteArray lines;
    for (const QString& id : std::as_const(m_toRecord))
        if (const Job* job = find(id))
            lines += doneLine(*job);
    // The result files go only once the journal holds what they say; otherwise they stay, and
    // the next round (or the next start) tries again.
    if (!lines.isEmpty() && !append(lines))
        return;
    for (const QString& id : std::as_const(m_toRecord)) {
        if (const Job* job = find(id)) {
            const QString base = resultBaseFor(job->file);
            m_spares.keep(base + QStringLiteral(".OK"));
            removeFile(base + QStringLiteral(".KO"));
        }
    }
    m_toRecord.clear();
}

QJsonObject JobStore::toJson(const Job& job, State state)
{
    static const char* const kStates[] = {"waiting", "sending", "done"};
    QJsonArray dump;
    for (const QString& text : job.dump)
        dump.append(text);
    QJsonObject o{{"id", job.id},
                  {"state", kStates[int(job.done ? State::Done : state)]},
                  {"receipt", job.receipt ? QJsonValue(*job.receipt) : QJsonValue()},
                  {"dump", dump}};
    if (job.notSent) {
        o.insert("outcome", "not-sent");
        o.insert("error", QJsonObject{{"text", job.notSentText}});
    } else if (job.done) {
        o.insert("outcome", job.failure ? "failed" : "sent");
        if (job.failure)
            o.insert("error", failureJson(*job.failure));
    }
    return o;
}

bool JobStore::recordTold(const QString& id, Told stage)
{
    const auto it = m_jobs.find(id);
    if (it == m_jobs.end())
        return false;
    if (it->wasTold(stage))
        return true;
    if (!append(toldLine(id, int(stage))))
        return false;
    it->told |= int(stage);
    return true;
}

std::vector<const JobStore::Job*> JobStore::untold() const
{
    std::vector<const Job*> jobs;
    for (const Job& job : m_jobs) {
        if (job.route.isEmpty())
            continue;
        if (job.done ? !job.wasTold(Told::Done) : !job.wasTold(Told::Waiting))
            jobs.push_back(&job);
    }
    std::sort(jobs.begin(), jobs.end(), [](const Job* a, const Job* b) { return a->id < b->id; });
    return jobs;
}
