#pragma once

#include "settings/Settings.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The MQTT link's settings, checked: the broker, this register's topic root, who it is to the
// broker, and what it trusts.
struct MqttConfig
{
    static constexpr int kDefaultSessionDays = 7;

    bool tls = true;
    QString host;
    quint16 port = 8883;
    QString topic; // the root R: R/jobs, R/verdicts, R/status, R/online
    QString clientId;
    QString username;
    QByteArray password;
    QString certFile;
    QString keyFile;
    QString caFile; // empty: the system's
    int sessionDays = kDefaultSessionDays;
    qint64 maxPayloadBytes = 16 * 1024 * 1024;

    QString brokerText() const; // "mqtts://host:8883"
    QString jobsTopic() const { return topic + QStringLiteral("/jobs"); }
    QString verdictsTopic() const { return topic + QStringLiteral("/verdicts"); }
    QString statusTopic() const { return topic + QStringLiteral("/status"); }
    QString onlineTopic() const { return topic + QStringLiteral("/online"); }
};

struct MqttConfigCheck
{
    std::optional<MqttConfig> config; // none: the link stays off
    QString error;                    // why
    QString warning;                  // said once when the link is not encrypted
};

// Checks section Mqtt; maxBodyKB is the HTTP front's MaxBodyKB (the same limit for a payload).
// hostName and the program folder's name make the default topic.
MqttConfigCheck checkMqttSettings(const MqttSettings& settings, const QString& programFolder,
                                  const QString& hostName, const QString& maxBodyKB);

// A topic level or root as written in the settings: levels of visible characters without the
// wildcards, none empty, not beginning with '$'.
bool isTopicRoot(const QString& topic);
