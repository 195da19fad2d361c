#include "Metrics.h"

namespace {

class Writer
{
public:
    void family(const char* name, const char* type, const char* help)
    {
        m_out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char* name, double value, const QByteArray& labels = {})
    {
        m_out += name;
        if (!labels.isEmpty())
            m_out += '{' + labels + '}';
        m_out += ' ' + QByteArray::number(value, 'g', 15) + '\n';
    }
    QByteArray text() const { return m_out; }

private:
    QByteArray m_out;
};

// A label's value as the format wants it: backslash, quote and line feed escaped.
QByteArray label(const char* name, const QString& value)
{
    QByteArray v = value.toUtf8();
    v.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return QByteArray(name) + "=\"" + v + '"';
}

const char* const kStates[] = {"ready", "cover-open", "paper-out", "busy", "driver-fault"};

} // namespace

QByteArray metricsText(const MetricsSample& s)
{
    Writer w;
    w.family("qds_files_total", "counter", "Command files that got their verdict, by outcome.");
    w.sample("qds_files_total", double(s.filesSent), label("outcome", "sent"));
    w.sample("qds_files_total", double(s.filesFailed), label("outcome", "failed"));
    w.family("qds_lines_sent_total", "counter", "Lines the register took.");
    w.sample("qds_lines_sent_total", double(s.linesSent));
    w.family("qds_lines_refused_total", "counter",
             "Lines the register (or its driver) refused, by answer code; code 0 is every code "
             "past the first ones seen.");
    for (auto it = s.linesRefused.cbegin(); it != s.linesRefused.cend(); ++it)
        w.sample("qds_lines_refused_total", double(it.value()),
                 label("code", QString::number(it.key())));
    w.family("qds_driver_restarts_total", "counter",
             "Times the driver program was started again after it stopped working.");
    w.sample("qds_driver_restarts_total", s.driverRestarts);
    w.family("qds_faults_total", "counter",
             "Faults that kept the program from working, by kind, each counted when it came.");
    for (const auto& [kind, count] : s.faults)
        w.sample("qds_faults_total", count, label("kind", QString::fromLatin1(kind)));
    w.family("qds_jobs_made_total", "counter", "Jobs made from posted command files, by front.");
    w.sample("qds_jobs_made_total", double(s.httpJobsMade), label("front", "http"));
    w.sample("qds_jobs_made_total", double(s.mqttJobsMade), label("front", "mqtt"));
    if (s.mqttLinkUp) {
        w.family("qds_mqtt_link_up", "gauge", "1 while the link to the MQTT broker works.");
        w.sample("qds_mqtt_link_up", *s.mqttLinkUp ? 1 : 0);
    }

    w.family("qds_register_state", "gauge", "The register's state: 1 for the one it is in.");
    for (const char* state : kStates)
        w.sample("qds_register_state", s.registerState == QLatin1String(state) ? 1 : 0,
                 label("state", QString::fromLatin1(state)));
    w.family("qds_files_waiting", "gauge", "Command files waiting in the input folder.");
    w.sample("qds_files_waiting", s.filesWaiting);
    w.family("qds_jobs_waiting", "gauge", "Posted jobs waiting for their verdict.");
    w.sample("qds_jobs_waiting", s.jobsWaiting);
    if (s.lastReceipt) {
        w.family("qds_last_receipt_number", "gauge", "The register's last receipt number read.");
        w.sample("qds_last_receipt_number", *s.lastReceipt);
    }
    if (s.lastReceiptTime) {
        w.family("qds_last_receipt_timestamp_seconds", "gauge",
                 "When the last receipt number was read, in seconds since the epoch.");
        w.sample("qds_last_receipt_timestamp_seconds",
                 double(s.lastReceiptTime->toMSecsSinceEpoch()) / 1000.0);
    }
    if (s.secondsSinceLastSent) {
        w.family("qds_seconds_since_last_file_sent", "gauge",
                 "Seconds since the last command file was sent whole.");
        w.sample("qds_seconds_since_last_file_sent", *s.secondsSinceLastSent);
    }
    w.family("qds_build_info", "gauge", "The program's version.");
    w.sample("qds_build_info", 1, label("version", s.version));
    return w.text();
}
