// What the MQTT link reads of a job message before keeping it: the topic, the user properties
// (its key), the Content Type, the Response Topic and the payload. The bytes are cut into those
// fields at each 0x1F.
#include "mqtt/JobMessage.h"
#include "mqtt/MqttConfig.h"

#include <QJsonDocument>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QList<QByteArray> fields =
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\x1f');
    MqttMessage m;
    m.topic = QString::fromUtf8(fields.value(0));
    m.payload = fields.value(1);
    if (fields.size() > 2 && !fields[2].startsWith('!'))
        m.contentType = fields[2];
    m.responseTopic = fields.value(3);
    for (qsizetype i = 4; i + 1 < fields.size(); i += 2)
        m.userProperties.emplace_back(fields[i], fields[i + 1]);

    const QString jobs = QStringLiteral("shops/s1/c1/jobs");
    const QString verdicts = QStringLiteral("shops/s1/c1/verdicts");
    const qint64 max = 64;
    const JobMessageCheck c = checkJobMessage(m, jobs, verdicts, max);
    if (c.replyTopic != verdicts && !isReplyTopic(c.replyTopic.toUtf8()))
        std::abort();
    if (c.ok) {
        if (c.status != 0 || m.topic != jobs || m.payload.size() > max || c.key.isEmpty() ||
            c.key.size() > 255)
            std::abort();
        for (QChar ch : c.key)
            if (ch.unicode() < 0x21 || ch.unicode() > 0x7E)
                std::abort();
    } else {
        if (c.error.isEmpty() ||
            (c.status != 400 && c.status != 413 && c.status != 415 && c.status != 422))
            std::abort();
        if (c.status == 422 && c.row < 1)
            std::abort();
        if (QJsonDocument(refusalJson(c)).toJson().isEmpty())
            std::abort();
    }
    // A root that passes names no wildcard and no empty level.
    const QString root = QString::fromUtf8(fields.value(0));
    if (isTopicRoot(root) && (root.contains(u'+') || root.contains(u'#') ||
                              root.contains(QStringLiteral("//")) || root.startsWith(u'/')))
        std::abort();
    return 0;
}
