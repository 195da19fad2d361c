#include "RequestRules.h"

#include <QHostAddress>
#include <QNetworkInterface>

namespace {

// Every byte is looked at whatever the first difference: the time taken tells nothing.
bool sameSecret(const QByteArray& given, const QByteArray& expected)
{
    unsigned difference = given.size() == expected.size() ? 0 : 1;
    for (qsizetype i = 0; i < expected.size(); ++i)
        difference |= uchar((i < given.size() ? given[i] : 0) ^ expected[i]);
    return difference == 0 && !expected.isEmpty();
}

} // namespace

bool RequestRules::hostAllowed(const QByteArray& value) const
{
    const auto [host, port] = splitHostHeader(value);
    if (port == -2 || (port == -1 ? m_config.port != 80 : port != m_config.port))
        return false;
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress named(host);
    if (named.isNull())
        return false; // a name: it could be made to point anywhere
    if (named.isEqual(m_config.address, QHostAddress::ConvertV4MappedToIPv4))
        return true;
    // Listening on every address: any address of this machine.
    if (m_config.address == QHostAddress::Any || m_config.address == QHostAddress::AnyIPv4 ||
        m_config.address == QHostAddress::AnyIPv6) {
        for (const QHostAddress& own : QNetworkInterface::allAddresses())
            if (named.isEqual(own, QHostAddress::ConvertV4MappedToIPv4))
                return true;
    }
    return false;
}

bool RequestRules::originAllowed(const QByteArray& origin, const QByteArray& host) const
{
    return origin.isEmpty() || m_config.allowOrigins.contains(QString::fromLatin1(origin)) ||
           origin == "http://" + host.trimmed();
}

bool RequestRules::listed(const QByteArray& origin) const
{
    return !origin.isEmpty() && m_config.allowOrigins.contains(QString::fromLatin1(origin));
}

bool RequestRules::bearsToken(const QByteArray& authorization) const
{
    const QByteArray value = authorization.trimmed();
    const qsizetype blank = value.indexOf(' ');
    if (blank < 0 || value.left(blank).toLower() != "bearer")
        return false;
    return sameSecret(value.mid(blank + 1).trimmed(), m_config.token);
}

bool RequestRules::tokenInQuery(const QUrlQuery& query) const
{
    for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded)) {
        const QString lower = name.toLower();
        if (lower.contains(QStringLiteral("token")) || lower.contains(QStringLiteral("auth")) ||
            (!m_config.token.isEmpty() && value.contains(QString::fromLatin1(m_config.token))))
            return true;
    }
    return false;
}
