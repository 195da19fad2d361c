#include "JobMessage.h"

#include "fronts/BodyText.h"

bool isReplyTopic(const QByteArray& topic)
{
    return !topic.isEmpty() && topic.size() <= 65535 && !topic.startsWith('$') &&
           !topic.contains('+') && !topic.contains('#') && !topic.contains('\0') &&
           QString::fromUtf8(topic).toUtf8() == topic;
}

JobMessageCheck checkJobMessage(const MqttMessage& message, const QString& jobsTopic,
                                const QString& verdictsTopic, qint64 maxBytes)
{
    JobMessageCheck check;
    check.replyTopic = isReplyTopic(message.responseTopic)
                           ? QString::fromUtf8(message.responseTopic)
                           : verdictsTopic;
    auto refuse = [&](int status, const QString& why, int row = 0) {
        check.status = status;
        check.error = why;
        check.row = row;
        return check;
    };
    int keys = 0;
    for (const auto& [name, value] : message.userProperties) {
        if (name == "key") {
            check.key = QString::fromUtf8(value);
            ++keys;
        }
    }
    if (message.topic != jobsTopic)
        return refuse(400, QStringLiteral("jobs are taken on %1 only").arg(jobsTopic));
    if (keys != 1 || check.key.isEmpty() || check.key.size() > 255 || !isVisibleAscii(check.key))
        return refuse(400, QStringLiteral("a job needs one user property \"key\" of 1 to 255 "
                                          "visible characters: a message may be delivered "
                                          "again, and its key keeps it from printing twice"));
    if (message.payload.size() > maxBytes)
        return refuse(413, QStringLiteral("the command file is larger than MaxBodyKB (%1 KB)")
                               .arg(maxBytes / 1024));
    QString why;
    const QByteArray contentType = message.contentType.value_or(QByteArray());
    const auto charset = bodyCharset(contentType, why);
    if (!charset)
        return refuse(415, why);
    if (utf8MarkWithoutCharset(contentType, message.payload))
        return refuse(415, QStringLiteral("the command file begins with UTF-8's byte order mark: "
                                          "send it as text/plain; charset=utf-8"));
    CommandFileBody body = commandFileBody(message.payload, *charset);
    if (body.badRow > 0)
        return refuse(422, body.error, body.badRow);
    check.commandFile = std::move(body.bytes);
    check.ok = true;
    return check;
}

QJsonObject refusalJson(const JobMessageCheck& check)
{
    QJsonObject e{{"status", check.status}, {"text", check.error}};
    if (check.row > 0)
        e.insert("row", check.row);
    QJsonObject o{{"error", e}};
    if (!check.key.isEmpty())
        o.insert("key", check.key);
    return o;
}
