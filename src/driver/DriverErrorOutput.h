#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

// A driver's standard error, copied to ours line by line for people to read: prefixed with the
// driver's name, at most 100 lines a minute and 1,000 characters a line.
class DriverErrorOutput
{
public:
    // What the driver wrote (any piece of it); complete lines are passed on.
    void take(const QString& driverName, const QByteArray& bytes);
    // A new start of the driver: a piece left of a line is dropped.
    void restart() { m_pending.clear(); }

private:
    void forward(const QString& driverName, const QByteArray& line);

    QByteArray m_pending;
    QElapsedTimer m_window;
    int m_lines = 0;
};
