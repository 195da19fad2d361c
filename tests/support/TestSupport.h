#pragma once

#include "common/Clock.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
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

// Serves Qt events until the condition holds; false if it still does not after the timeout.
bool serveEventsUntil(const std::function<bool()>& condition, int timeoutMs = 3000);

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

// A temporary program folder for one test.
class TempFolder
{
public:
    TempFolder();
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};
