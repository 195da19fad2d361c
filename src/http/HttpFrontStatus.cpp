// What the HTTP front says of the register and of itself: the status, the page's news and the
// metrics.
#include "HttpFront.h"
#include "server/DriverServer.h"

#include <QJsonArray>

QJsonObject HttpFront::statusJson() const
{
    return registerStatusJson(m_server.status(), m_options.version);
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
    s.httpJobsMade = m_desk.jobsMade(QStringLiteral("http"));
    s.mqttJobsMade = m_desk.jobsMade(QStringLiteral("mqtt"));
    if (!status.linkState().isEmpty())
        s.mqttLinkUp = status.linkState() == u"connected";
    s.registerState = registerStateName(status);
    s.filesWaiting = status.waiting();
    s.jobsWaiting = m_desk.store().waiting();
    if (const auto r = status.lastReceipt()) {
        s.lastReceipt = r->number;
        s.lastReceiptTime = r->time;
    }
    if (m_sinceLastSent.isValid())
        s.secondsSinceLastSent = double(m_sinceLastSent.elapsed()) / 1000.0;
    s.version = m_options.version;
    return s;
}
