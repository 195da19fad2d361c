// What the HTTP front says of the register and of itself: the status, the page's news and the
// metrics.
#include "HttpFront.h"
#include "server/DriverServer.h"

#include <QJsonArray>

namespace {

QString registerName(const StatusModel& status)
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

} // namespace

QJsonObject HttpFront::statusJson() const
{
    const StatusModel& status = m_server.status();
    QJsonValue receipt;
    if (const auto r = status.lastReceipt())
        receipt = QJsonObject{{"number", r->number}, {"time", r->time.toString(Qt::ISODate)}};
    const QString error = status.errorText();
    return {{"register", registerName(status)},
            {"error", error.isEmpty() ? QJsonValue() : QJsonValue(error)},
            {"lastReceipt", receipt},
            {"waiting", status.waiting()},
            {"version", m_options.version}};
}

QJsonObject HttpFront::newsJson() const
{
    QJsonArray verdicts;
    for (const QJsonObject& v : m_verdicts)
        verdicts.append(v);
    return {{"seq", qint64(m_newsSeq)},
            {"status", statusJson()},
            {"stateText", m_server.status().stateText()},
            {"verdicts", verdicts}};
}

MetricsSample HttpFront::metricsSample() const
{
    const StatusModel& status = m_server.status();
    MetricsSample s;
    s.filesSent = m_filesSent;
    s.filesFailed = m_filesFailed;
    s.linesSent = m_server.lineCounts().sent;
    s.linesRefused = m_server.lineCounts().refused;
    s.driverRestarts = m_server.driverRestarts();
    const auto& faults = m_server.faultsSeen();
    for (auto it = faults.cbegin(); it != faults.cend(); ++it)
        s.faults.append({FolderFaults::kindName(it.key()), it.value()});
    s.httpJobsMade = m_jobsMade;
    s.registerState = registerName(status);
    s.filesWaiting = status.waiting();
    s.jobsWaiting = m_jobs.waiting();
    if (const auto r = status.lastReceipt()) {
        s.lastReceipt = r->number;
        s.lastReceiptTime = r->time;
    }
    if (m_sinceLastSent.isValid())
        s.secondsSinceLastSent = double(m_sinceLastSent.elapsed()) / 1000.0;
    s.version = m_options.version;
    return s;
}
