#include "MqttConfig.h"

#include "fronts/BodyText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace {

QString levelFrom(QString text)
{
    static const QRegularExpression other(QStringLiteral("[^A-Za-z0-9._-]+"));
    text.replace(other, QStringLiteral("-"));
    return text.isEmpty() ? QStringLiteral("x") : text.left(64);
}

// A file the program must read: its path, checked now so the link says what is wrong at once.
bool readableFile(const QString& path, const char* key, QString& error)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        error = QStringLiteral("%1=%2 is not a file this program can read")
                    .arg(QLatin1String(key), path);
        return false;
    }
    return true;
}

std::optional<QByteArray> passwordFrom(const QString& path, QString& error)
{
    if (!readableFile(path, "PasswordFile", error))
        return std::nullopt;
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (QFile::permissions(path) & others) {
        error = QStringLiteral("PasswordFile=%1 may be read by others: make it readable by its "
                               "owner only (chmod 600)")
                    .arg(path);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("PasswordFile=%1 cannot be read").arg(path);
        return std::nullopt;
    }
    QByteArray password = file.read(65536).split('\n').value(0);
    if (password.endsWith('\r'))
        password.chop(1);
    if (password.isEmpty()) {
        error = QStringLiteral("PasswordFile=%1 holds no password on its first line").arg(path);
        return std::nullopt;
    }
    return password;
}

bool brokerFrom(const QString& text, MqttConfig& config, QString& error, QString& warning)
{
    const QString written = text.trimmed();
    const QUrl url(written.contains(QStringLiteral("://")) ? written
                                                           : QStringLiteral("mqtts://") + written);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"mqtts" && scheme != u"mqtt") ||
        !url.userInfo().isEmpty() || (!url.path().isEmpty() && url.path() != u"/") ||
        url.hasQuery() || url.hasFragment()) {
        error =
            QStringLiteral("Broker=%1 is not mqtts://host:port or mqtt://host:port").arg(written);
        return false;
    }
    config.tls = scheme == u"mqtts";
    config.host = url.host();
    config.port = quint16(url.port(config.tls ? 8883 : 1883));
    if (url.port() == 0) {
        error = QStringLiteral("Broker=%1 names port 0").arg(written);
        return false;
    }
    if (!config.tls)
        warning = QStringLiteral("the link to the broker %1 is not encrypted: anyone on the way "
                                 "can read and change the jobs (write mqtts:// to encrypt it)")
                      .arg(config.brokerText());
    return true;
}

} // namespace

QString MqttConfig::brokerText() const
{
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1://%2:%3")
        .arg(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), shownHost)
        .arg(port);
}

bool isTopicRoot(const QString& topic)
{
    if (topic.isEmpty() || topic.size() > 512 || topic.startsWith(u'$'))
        return false;
    for (const QString& level : topic.split(u'/')) {
        if (level.isEmpty() || level.contains(u'+') || level.contains(u'#'))
            return false;
        for (QChar c : level)
            if (c.unicode() < 0x21 || c.unicode() == 0x7F)
                return false;
    }
    return true;
}

MqttConfigCheck checkMqttSettings(const MqttSettings& s, const QString& programFolder,
                                  const QString& hostName, const QString& maxBodyKB)
{
    MqttConfigCheck check;
    MqttConfig config;
    if (!brokerFrom(s.Broker, config, check.error, check.warning))
        return check;
    config.topic = s.Topic.trimmed();
    if (config.topic.isEmpty())
        config.topic = QStringLiteral("qds/%1/%2")
                           .arg(levelFrom(hostName), levelFrom(QDir(programFolder).dirName()));
    if (!isTopicRoot(config.topic)) {
        check.error = QStringLiteral("Topic=%1 is not a topic root (levels of visible "
                                     "characters separated by '/', no '+' or '#', none empty, "
                                     "not beginning with '$')")
                          .arg(config.topic);
        return check;
    }
    config.clientId = s.ClientId.trimmed();
    if (config.clientId.isEmpty())
        config.clientId = QString(config.topic).replace(u'/', u'-').left(128);
    if (!isVisibleAscii(config.clientId) || config.clientId.size() > 128) {
        check.error =
            QStringLiteral("ClientId=%1 must be 1 to 128 visible characters").arg(config.clientId);
        return check;
    }
    config.username = s.Username.trimmed();
    if (!s.PasswordFile.trimmed().isEmpty()) {
        const auto password = passwordFrom(s.PasswordFile.trimmed(), check.error);
        if (!password)
            return check;
        config.password = *password;
        if (config.username.isEmpty()) {
            check.error = QStringLiteral("PasswordFile= needs a Username=");
            return check;
        }
    }
    config.certFile = s.CertFile.trimmed();
    config.keyFile = s.KeyFile.trimmed();
    if (config.certFile.isEmpty() != config.keyFile.isEmpty()) {
        check.error = QStringLiteral("CertFile= and KeyFile= go together");
        return check;
    }
    if (!config.certFile.isEmpty() && (!readableFile(config.certFile, "CertFile", check.error) ||
                                       !readableFile(config.keyFile, "KeyFile", check.error)))
        return check;
    if ((!config.certFile.isEmpty() || !s.CaFile.trimmed().isEmpty()) && !config.tls) {
        check.error = QStringLiteral("CertFile= and CaFile= need an mqtts:// broker");
        return check;
    }
    config.caFile = s.CaFile.trimmed();
    if (!config.caFile.isEmpty() && !readableFile(config.caFile, "CaFile", check.error))
        return check;
    if (!s.SessionDays.trimmed().isEmpty()) {
        const auto days = plainNumber(s.SessionDays.trimmed(), 1, 3650);
        if (!days) {
            check.error = QStringLiteral("SessionDays=%1 is not a number of days from 1 to 3650")
                              .arg(s.SessionDays.trimmed());
            return check;
        }
        config.sessionDays = int(*days);
    }
    if (!maxBodyKB.trimmed().isEmpty()) {
        if (const auto kb = plainNumber(maxBodyKB.trimmed(), 1, 1024 * 1024))
            config.maxPayloadBytes = *kb * 1024;
    }
    check.config = config;
    return check;
}
