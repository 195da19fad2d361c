#include "HttpJobs.h"

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
#include <QRandomGenerator>
#include <QRegularExpression>

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

// "Error=<code>;<message>;Row <row>;<line>[;Err.Esteso=<extended>]"
std::optional<HttpJobs::Failure> failureIn(const QString& koPath)
{
    QString text = decodeCp1252(readAll(koPath));
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    static const QRegularExpression record(
        QStringLiteral("^Error=(-?\\d+);(.*?);Row (-?\\d+);(.*?)(;Err\\.Esteso=-?\\d+)?$"),
        QRegularExpression::DotMatchesEverythingOption);
    const auto match = record.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return HttpJobs::Failure{match.captured(1).toInt(), match.captured(2),
                             match.captured(3).toInt(), match.captured(4)};
}

QJsonObject failureJson(const HttpJobs::Failure& f)
{
    return {{"code", f.code}, {"text", f.text}, {"row", f.row}, {"line", f.line}};
}

} // namespace

HttpJobs::HttpJobs(QString jobsFolder) : m_folder(withTrailingSeparator(std::move(jobsFolder))) {}

bool HttpJobs::isJobId(const QString& text)
{
    static const QRegularExpression id(QStringLiteral("^\\d{17}-[0-9a-f]{4}$"));
    return id.match(text).hasMatch();
}

QByteArray HttpJobs::digestOf(const QByteArray& commandFile)
{
    return QCryptographicHash::hash(commandFile, QCryptographicHash::Sha256).toHex();
}

QString HttpJobs::recordPath(const QString& id) const
{
    return m_folder + id + QStringLiteral(".json");
}

bool HttpJobs::load(const QDateTime& nowUtc)
{
    if (!QDir().mkpath(m_folder))
        return false;
    const auto names = folderEntries(m_folder);
    if (!names)
        return false;
    for (const QString& name : *names) {
        if (!name.endsWith(QStringLiteral(".json")) || !isJobId(name.chopped(5)))
            continue;
        const QJsonObject o = QJsonDocument::fromJson(readAll(m_folder + name)).object();
        Job job;
        job.id = name.chopped(5);
        job.created = QDateTime::fromString(o.value("created").toString(), Qt::ISODateWithMs);
        job.key = o.value("key").toString();
        job.digest = o.value("digest").toString().toLatin1();
        job.file = o.value("file").toString();
        job.done = o.value("done").toBool();
        if (o.value("receipt").isDouble())
            job.receipt = o.value("receipt").toInt();
        for (const auto& text : o.value("dump").toArray())
            job.dump.append(text.toString());
        if (const QJsonObject f = o.value("failure").toObject(); !f.isEmpty())
            job.failure = Failure{f.value("code").toInt(), f.value("text").toString(),
                                  f.value("row").toInt(), f.value("line").toString()};
        // A record cut short by a crash is not one: it was written before its command file.
        if (!job.created.isValid() || job.file.isEmpty())
            continue;
        m_jobs.insert(job.id, job);
        if (!job.key.isEmpty())
            m_byKey.insert(job.key, job.id);
        m_byFile.insert(job.file, job.id);
    }
    prune(nowUtc);
    return true;
}

void HttpJobs::prune(const QDateTime& nowUtc)
{
    const QDateTime oldest = nowUtc.addDays(-kKeepDays);
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        if (it->done && it->created < oldest && removeFile(recordPath(it->id))) {
            m_byKey.remove(it->key);
            m_byFile.remove(it->file);
            it = m_jobs.erase(it);
        } else {
            ++it;
        }
    }
}

void HttpJobs::reconcile()
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
            // Never sent by us again: a person decides.
            complete(job, std::nullopt,
                     Failure{ResultCode::CannotSend,
                             QStringLiteral("the command file left the input folder without a "
                                            "verdict"),
                             0, QString()});
        }
    }
}

void HttpJobs::removeResultsTakenOver(const Job& job)
{
    // A crash can come between the record taking the results over and their removal. Results
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

const HttpJobs::Job* HttpJobs::find(const QString& id) const
{
    const auto it = m_jobs.constFind(id);
    return it == m_jobs.cend() ? nullptr : &*it;
}

const HttpJobs::Job* HttpJobs::findByKey(const QString& key) const
{
    const auto it = m_byKey.constFind(key);
    return it == m_byKey.cend() ? nullptr : find(*it);
}

const HttpJobs::Job* HttpJobs::jobOfFile(const QString& path) const
{
    const auto it = m_byFile.constFind(path);
    return it == m_byFile.cend() ? nullptr : find(*it);
}

int HttpJobs::waiting() const
{
    int count = 0;
    for (const Job& job : m_jobs)
        count += job.done ? 0 : 1;
    return count;
}

QString HttpJobs::newId(const QDateTime& nowUtc) const
{
    // Time first: jobs are sent in the order of their names.
    for (;;) {
        const QString id = nowUtc.toString(QStringLiteral("yyyyMMddHHmmsszzz")) + u'-' +
                           QStringLiteral("%1").arg(QRandomGenerator::global()->bounded(0x10000), 4,
                                                    16, QLatin1Char('0'));
        if (!m_jobs.contains(id) && fileStatus(recordPath(id)).type == FileStatus::Type::Missing)
            return id;
    }
}

bool HttpJobs::save(const Job& job) const
{
    QJsonArray dump;
    for (const QString& text : job.dump)
        dump.append(text);
    QJsonObject o{{"id", job.id},     {"created", job.created.toString(Qt::ISODateWithMs)},
                  {"key", job.key},   {"digest", QString::fromLatin1(job.digest)},
                  {"file", job.file}, {"done", job.done},
                  {"dump", dump}};
    if (job.receipt)
        o.insert("receipt", *job.receipt);
    if (job.failure)
        o.insert("failure", failureJson(*job.failure));
    return replaceOwnFile(recordPath(job.id), QJsonDocument(o).toJson(QJsonDocument::Compact)) &&
           flushFolder(m_folder);
}

HttpJobs::Made HttpJobs::create(const QByteArray& commandFile, const QString& key,
                                const QString& inputFolder, const QDateTime& nowUtc, QString& id)
{
    Job job;
    job.id = newId(nowUtc);
    job.created = nowUtc;
    job.key = key;
    job.digest = digestOf(commandFile);
    job.file = pathInFolder(inputFolder, kPrefix + job.id + QStringLiteral(".TXT"));
    // The record first: a command file never exists without the record that keeps its key.
    if (!save(job))
        return Made::NoRecord;
    if (!replaceOwnFile(job.file, commandFile) || !flushFolder(folderOf(job.file))) {
        removeFile(job.file);
        removeFile(recordPath(job.id));
        return Made::NoCommandFile;
    }
    m_jobs.insert(job.id, job);
    if (!key.isEmpty())
        m_byKey.insert(key, job.id);
    m_byFile.insert(job.file, job.id);
    id = job.id;
    return Made::Yes;
}

void HttpJobs::fill(Job& job, std::optional<int> receipt, const std::optional<Failure>& failure)
{
    job.done = true;
    job.receipt = failure ? std::nullopt : receipt;
    job.failure = failure;
    job.dump = dumpTexts(resultBaseFor(job.file) + QStringLiteral(".OK"));
}

void HttpJobs::complete(Job& job, std::optional<int> receipt, const std::optional<Failure>& failure)
{
    fill(job, receipt, failure);
    // The result files go only once the record holds what they say.
    if (!save(job))
        return;
    const QString base = resultBaseFor(job.file);
    removeFile(base + QStringLiteral(".OK"));
    removeFile(base + QStringLiteral(".KO"));
}

namespace {

std::optional<HttpJobs::Failure> failureOf(const FileVerdict& verdict)
{
    if (verdict.code == 0)
        return std::nullopt;
    return HttpJobs::Failure{verdict.code, verdict.text, verdict.row, verdict.line};
}

} // namespace

HttpJobs::Job HttpJobs::withVerdict(const Job& job, const FileVerdict& verdict)
{
    Job done = job;
    fill(done, verdict.receipt, failureOf(verdict));
    return done;
}

bool HttpJobs::takeVerdict(const FileVerdict& verdict)
{
    const auto it = m_byFile.constFind(verdict.path);
    if (it == m_byFile.cend())
        return false;
    Job& job = m_jobs[*it];
    if (job.done)
        return false;
    complete(job, verdict.receipt, failureOf(verdict));
    return true;
}

QJsonObject HttpJobs::toJson(const Job& job, State state)
{
    static const char* const kStates[] = {"waiting", "sending", "done"};
    QJsonArray dump;
    for (const QString& text : job.dump)
        dump.append(text);
    QJsonObject o{{"id", job.id},
                  {"state", kStates[int(job.done ? State::Done : state)]},
                  {"receipt", job.receipt ? QJsonValue(*job.receipt) : QJsonValue()},
                  {"dump", dump}};
    if (job.done) {
        o.insert("outcome", job.failure ? "failed" : "sent");
        if (job.failure)
            o.insert("error", failureJson(*job.failure));
    }
    return o;
}
