#include "HttpMessage.h"

#include <QJsonDocument>
#include <QJsonObject>

QByteArray HttpRequest::value(const QByteArray& name) const
{
    for (const auto& [key, text] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return text;
    return {};
}

int HttpRequest::count(const QByteArray& name) const
{
    int n = 0;
    for (const auto& header : headers)
        n += header.first.compare(name, Qt::CaseInsensitive) == 0;
    return n;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 202:
        return "Accepted";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 415:
        return "Unsupported Media Type";
    case 421:
        return "Misdirected Request";
    case 422:
        return "Unprocessable Content";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    }
    return "Status";
}

QByteArray HttpAnswer::wire(bool close, bool headOnly) const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                     "\r\nContent-Type: " + contentType +
                     "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const auto& [name, value] : headers)
        out += name + ": " + value + "\r\n";
    if (close)
        out += "Connection: close\r\n";
    out += "\r\n";
    if (!headOnly)
        out += body;
    return out;
}

QByteArray jsonBody(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

HttpAnswer HttpAnswer::error(int status, const QByteArray& text)
{
    const QJsonObject e{{"status", status}, {"text", QString::fromUtf8(text)}};
    return {status,
            QJsonDocument(QJsonObject{{"error", e}}).toJson(QJsonDocument::Compact) + '\n',
            "application/json",
            {}};
}
