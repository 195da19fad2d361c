#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Nothing but the page's own script and style, and requests to this server only.
inline constexpr char kLivePagePolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

struct LivePageFile
{
    QByteArray body;
    QByteArray contentType;
};

// The live page ("/", in the language of the settings) and its script and style; none for any
// other path.
std::optional<LivePageFile> livePageFile(const QString& path, int languageOffset);
