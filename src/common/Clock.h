#pragma once

#include <QDateTime>
#include <QString>

// Source of the local time written into result files, the log and the journal, so that tests
// can check those lines byte for byte.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// "dd/mm/yyyy hh:mm", 24-hour clock.
QString resultTimestamp(const QDateTime& t);
// "yyyymmddhhmm", the prefix of the copies of failed files.
QString copyTimestamp(const QDateTime& t);
// "dd/mm/yyyy hh:mm:ss".
QString journalTimestamp(const QDateTime& t);
