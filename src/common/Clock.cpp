#include "Clock.h"

// Formats are spelled out rather than taken from the locale: readers of these files parse them.
QString resultTimestamp(const QDateTime& t)
{
    return t.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

QString copyTimestamp(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyyMMddHHmm"));
}

QString journalTimestamp(const QDateTime& t)
{
    return t.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}
