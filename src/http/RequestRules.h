#pragma once

#include "HttpConfig.h"

#include <QByteArray>
#include <QUrlQuery>

// Who may ask the HTTP front anything: the Host a request names, the origin of the page that
// sends it, and the token it bears.
class RequestRules
{
public:
    explicit RequestRules(const HttpConfig& config) : m_config(config) {}

    // The Host header names the address the front listens on, one of this machine's when it
    // listens on every address, or localhost; never another name, which anyone could make point
    // here (DNS rebinding).
    bool hostAllowed(const QByteArray& host) const;
    // No Origin (not a browser, or a page of its own), one of AllowOrigin, or the front itself.
    bool originAllowed(const QByteArray& origin, const QByteArray& host) const;
    // A listed origin, which CORS answers name.
    bool listed(const QByteArray& origin) const;
    // "Bearer <token>", compared in constant time.
    bool bearsToken(const QByteArray& authorization) const;
    // A query that carries the token, or a parameter named like one: refused, since addresses
    // are logged and shown.
    bool tokenInQuery(const QUrlQuery& query) const;

private:
    const HttpConfig& m_config;
};
