#include "HttpConfig.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QUrl>

namespace {

std::optional<quint16> portFrom(QStringView text)
{
    if (const auto port = plainNumber(text, 1, 65535))
        return quint16(*port);
    return std::nullopt;
}

// "8750" (loopback), "address:port", "[v6 address]:port"; "localhost" stands for 127.0.0.1.
bool parseListen(const QString& value, HttpConfig& config, QString& error)
{
    const QString text = value.trimmed();
    const qsizetype colon = text.lastIndexOf(u':');
    QString host = colon < 0 ? QString() : text.left(colon);
    const auto port = portFrom(colon < 0 ? QStringView(text) : QStringView(text).mid(colon + 1));
    const bool bracketed = host.startsWith(u'[') && host.endsWith(u']');
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    // An IPv6 address goes in brackets, so that its last group is never taken for the port.
    if (!port || (!bracketed && host.contains(u':'))) {
        error = QStringLiteral("Listen=%1 is not a port (1-65535) or address:port").arg(value);
        return false;
    }
    config.port = *port;
    if (colon < 0 || host.compare(u"localhost", Qt::CaseInsensitive) == 0) {
        config.address = QHostAddress(QHostAddress::LocalHost);
        return true;
    }
    if (!config.address.setAddress(host)) {
        error = QStringLiteral("Listen=%1 does not name an IP address (names are not looked up)")
                    .arg(value);
        return false;
    }
    return true;
}

// "http://host[:port]" or "https://...": exactly what a browser sends as Origin.
bool isOrigin(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
           !url.host().isEmpty() && url.path().isEmpty() && !url.hasQuery() && !url.hasFragment() &&
           url.userInfo().isEmpty() && url.toString(QUrl::FullyEncoded) == text;
}

} // namespace

std::pair<QString, int> splitHostHeader(const QByteArray& value)
{
    const QString text = QString::fromLatin1(value).trimmed();
    qsizetype portAt = -1;
    QString host;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return {QString(), -2};
        host = text.mid(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != u':')
                return {QString(), -2};
            portAt = close + 2;
        }
    } else {
        const qsizetype colon = text.indexOf(u':');
        host = colon < 0 ? text : text.left(colon);
        portAt = colon < 0 ? -1 : colon + 1;
    }
    if (portAt < 0)
        return {host, -1};
    const auto port = plainNumber(QStringView(text).mid(portAt), 1, 65535);
    return {host, port ? int(*port) : -2};
}

QString HttpConfig::listenText() const
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + address.toString() + u']'
                             : address.toString();
    return host + u':' + QString::number(port);
}

QString tokenFilePath(const QString& programFolder)
{
    return pathInFolder(programFolder, QStringLiteral("QuorinDriverServer.token"));
}

QByteArray tokenFromFile(const QString& path, QString& error)
{
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly)) {
        const QByteArray token = existing.read(4097).trimmed();
        if (token.size() >= 16 && token.size() <= 4096 &&
            isVisibleAscii(QString::fromLatin1(token)))
            return token;
        error = QStringLiteral("the token file %1 does not hold a token (16 to 4096 visible "
                               "characters)")
                    .arg(path);
        return {};
    }
    if (existing.exists()) {
        error = QStringLiteral("the token file %1 cannot be read").arg(path);
        return {};
    }
    QByteArray random(32, '\0');
    QRandomGenerator::system()->generate(random.begin(), random.end());
    const QByteArray token = random.toHex();
    QSaveFile file(path);
    // Readable by its owner only, before the token is in it.
    const bool made = file.open(QIODevice::WriteOnly) &&
                      file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                      file.write(token + '\n') == token.size() + 1 && file.commit();
    if (!made) {
        error = QStringLiteral("the token file %1 cannot be made").arg(path);
        return {};
    }
    return token;
}

HttpConfigCheck checkHttpSettings(const HttpSettings& settings, const QString& programFolder)
{
    HttpConfigCheck check;
    if (!settings.enabled())
        return check;
    HttpConfig config;
    if (!parseListen(settings.Listen, config, check.error))
        return check;

    const QString token = settings.Token.trimmed();
    if (token.isEmpty()) {
        config.token = tokenFromFile(tokenFilePath(programFolder), check.error);
        if (config.token.isEmpty())
            return check;
    } else if (token.size() < 16 || !isVisibleAscii(token)) {
        check.error = QStringLiteral("Token= must be 16 or more visible characters without blanks");
        return check;
    } else {
        config.token = token.toLatin1();
    }

    for (const QString& origin : settings.AllowOrigin.split(u' ', Qt::SkipEmptyParts)) {
        if (!isOrigin(origin)) {
            check.error = QStringLiteral("AllowOrigin= lists %1, which is not an origin such as "
                                         "https://shop.example or http://192.168.1.20:8080")
                              .arg(origin);
            return check;
        }
        config.allowOrigins.append(origin);
    }

    if (const QString kb = settings.MaxBodyKB.trimmed(); !kb.isEmpty()) {
        const auto value = plainNumber(kb, 1, 1024 * 1024);
        if (!value) {
            check.error =
                QStringLiteral("MaxBodyKB=%1 is not a number of kilobytes from 1 to 1048576")
                    .arg(settings.MaxBodyKB);
            return check;
        }
        config.maxBodyBytes = *value * 1024;
    }
    check.config = config;
    return check;
}
