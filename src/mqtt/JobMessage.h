#pragma once

#include "MqttClient.h"

#include <QJsonObject>
#include <QString>

// A job message on R/jobs, judged before anything of it is kept: the topic, a key (user
// property "key", 1 to 255 visible characters: the broker may deliver a message again, so a job
// without one is never printed), the size, the charset of its Content Type, and its lines.
struct JobMessageCheck
{
    bool ok = false;
    QString key;
    QByteArray commandFile;
    // Refused: a status as the HTTP front would give it, why, and the line at fault (from 1).
    int status = 0;
    QString error;
    int row = 0;
    // Where the replies go: the message's Response Topic when it is one, else R/verdicts.
    QString replyTopic;
};

JobMessageCheck checkJobMessage(const MqttMessage& message, const QString& jobsTopic,
                                const QString& verdictsTopic, qint64 maxBytes);

// A topic a reply may be published on: levels without wildcards, not beginning with '$'.
bool isReplyTopic(const QByteArray& topic);

// {"error": {"status", "text", "row"}, "key"} for a refused message.
QJsonObject refusalJson(const JobMessageCheck& check);
