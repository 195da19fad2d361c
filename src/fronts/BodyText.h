#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The body of a POST as a command file: Windows-1252 bytes, as every producer writes them.
enum class BodyCharset { Windows1252, Utf8 };

// The charset a Content-Type names: none (text/plain without one) is Windows-1252; anything
// but text/plain, or another charset, is refused (nullopt, with why).
std::optional<BodyCharset> bodyCharset(const QByteArray& contentType, QString& error);

// A body that begins with UTF-8's byte order mark but names no charset: read as Windows-1252 it
// would print the mark ("ï»¿") on the first line, so it is refused instead.
bool utf8MarkWithoutCharset(const QByteArray& contentType, const QByteArray& body);

struct CommandFileBody
{
    QByteArray bytes; // the command file, when the body could be converted
    int badRow = 0;   // otherwise the line that cannot be, from 1
    QString error;
};

// A Windows-1252 body is taken as it is; a UTF-8 one (a byte order mark first is dropped) is
// converted, and fails on the first line that is not UTF-8 or holds a character Windows-1252
// has not.
CommandFileBody commandFileBody(const QByteArray& body, BodyCharset charset);

// Every character between '!' and '~': tokens, keys and numbers in headers and settings.
bool isVisibleAscii(QStringView text);
// A number written with digits only (a sign '-' at most) within [min, max]; none otherwise.
std::optional<qint64> plainNumber(QStringView text, qint64 min, qint64 max);
