#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <optional>

// What a shop chain's monitoring reads of one register, in Prometheus's text format (0.0.4):
// counters since the program started, gauges of now.
struct MetricsSample
{
    qint64 filesSent = 0;
    qint64 filesFailed = 0;
    qint64 linesSent = 0;
    QMap<qint32, qint64> linesRefused; // by the register's answer code; 0: every other code
    int driverRestarts = 0;
    QList<QPair<QByteArray, int>> faults; // by kind
    qint64 httpJobsMade = 0;
    qint64 mqttJobsMade = 0;
    std::optional<bool> mqttLinkUp; // none: no MQTT link
    QString registerState;          // ready, cover-open, paper-out, busy or driver-fault
    int filesWaiting = 0;
    int jobsWaiting = 0;
    std::optional<int> lastReceipt;
    std::optional<QDateTime> lastReceiptTime;
    std::optional<double> secondsSinceLastSent;
    QString version;
};

QByteArray metricsText(const MetricsSample& sample);

inline const QByteArray kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";
