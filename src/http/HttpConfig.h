#pragma once

#include "fronts/BodyText.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

// The HTTP front's settings, checked: where it listens, the token a request must bear, the
// origins a browser may call it from, and the largest body taken.
struct HttpConfig
{
    static constexpr qint64 kDefaultMaxBodyBytes = 16 * 1024 * 1024;

    QHostAddress address;
    quint16 port = 0;
    QByteArray token;
    QStringList allowOrigins;
    qint64 maxBodyBytes = kDefaultMaxBodyBytes;

    // "127.0.0.1:8750", "[::1]:8750"
    QString listenText() const;
};

struct HttpConfigCheck
{
    std::optional<HttpConfig> config; // none: the front stays off
    QString error;                    // why, when the settings are wrong
};

// Checks section Http. An empty Token= takes the one of the token file (made when missing).
HttpConfigCheck checkHttpSettings(const HttpSettings& settings, const QString& programFolder);

// A Host header's "host", "host:port" or "[v6 address]:port": the host, and the port (-1 when
// none is given, -2 when what is given is not a port).
std::pair<QString, int> splitHostHeader(const QByteArray& value);

// Where the token made for an empty Token= is kept (readable by its owner only).
QString tokenFilePath(const QString& programFolder);
// The token of the file, made with 32 random bytes when there is none; empty when it can
// neither be read nor made (then error says why).
QByteArray tokenFromFile(const QString& path, QString& error);
