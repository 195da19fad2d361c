#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>

// One request as the front reads it: the head first (judged before any byte of body is read),
// then its body.
struct HttpRequest
{
    QByteArray method;
    QByteArray target;     // as on the request line
    QUrl url;              // the target's path and query
    QByteArray targetHost; // host[:port] of a target in absolute form, else empty
    int versionMinor = 1;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool announcesBody = false; // a Content-Length above 0, or chunked
    qint64 contentLength = -1;  // -1: none announced
    bool expectsContinue = false;
    bool keepAlive = true;
    QByteArray body;

    // The first header of that name (case-insensitive); empty when there is none.
    QByteArray value(const QByteArray& name) const;
    int count(const QByteArray& name) const;
};

// One answer; the connection adds the framing (length, Connection) when it writes it.
struct HttpAnswer
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<QPair<QByteArray, QByteArray>> headers;

    void header(const QByteArray& name, const QByteArray& value) { headers.append({name, value}); }
    // Status line, headers and body as they go on the wire: no body for a HEAD request, and
    // "Connection: close" when the connection ends after it.
    QByteArray wire(bool close, bool headOnly = false) const;
    // A JSON error of ours: {"error":{"status":…,"text":…}}.
    static HttpAnswer error(int status, const QByteArray& text);
};

QByteArray reasonPhrase(int status);

class QJsonObject;
// A JSON object as a body: compact, one line.
QByteArray jsonBody(const QJsonObject& object);
