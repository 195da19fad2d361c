#pragma once

#include "common/Clock.h"
#include "support/TempFolder.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

void PrintTo(const QString& s, std::ostream* os);
void PrintTo(const QByteArray& s, std::ostream* os);

class FixedClock : public Clock
{
public:
    explicit FixedClock(QDateTime t = QDateTime(QDate(2026, 12, 6), QTime(17, 44, 5))) : m_now(t) {}
    QDateTime now() const override { return m_now; }
    void set(QDateTime t) { m_now = std::move(t); }

private:
    QDateTime m_now;
};

// Whole-file helpers for tests; paths are absolute.
void writeBytes(const QString& path, const QByteArray& bytes);
QByteArray readBytes(const QString& path);
bool fileExists(const QString& path);

// Whether a process runs (a zombie left for its parent to reap does not).
bool processRuns(qint64 pid);

// Every time budget of a test: how long something that should come may take, scaled by
// QDS_TEST_TIME_SCALE (a number, default 1) so that a loaded machine raises them all at once.
// Never used for a pause that provokes something (a double click, a silent driver's timeout).
int budgetMs(int ms);

// Serves Qt events until the condition holds; false if it still does not within the budget
// (scaled).
bool serveEventsUntil(const std::function<bool()>& condition, int budget = 10000);
// Serves Qt events for a fixed time (not scaled).
void serveEventsFor(int ms);

// An X server of the test's own (Xvfb) on a display number it chose itself, so that it never
// meets another server on the machine. Ended with the object.
class XServer
{
public:
    XServer() = default;
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    ~XServer();
    // False with the reason in error() when Xvfb is missing or did not come up.
    bool start();
    QString display() const { return m_display; }
    QString error() const { return m_error; }

private:
    std::unique_ptr<QProcess> m_process;
    QString m_display;
    QString m_error;
};

// While alive, Qt warnings that contain the text are expected and do not fail the test.
class AllowQtWarnings
{
public:
    explicit AllowQtWarnings(QString text);
    ~AllowQtWarnings();
    static bool allowed(const QString& message);
    // How many such warnings came since this object was made.
    int seen() const;

private:
    QString m_text;
};
