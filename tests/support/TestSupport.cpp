#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

namespace {
QStringList& allowedWarnings()
{
    static QStringList list;
    return list;
}
} // namespace

namespace {
QHash<QString, int>& seenWarnings()
{
    static QHash<QString, int> seen;
    return seen;
}
} // namespace

AllowQtWarnings::AllowQtWarnings(QString text) : m_text(std::move(text))
{
    allowedWarnings().append(m_text);
    seenWarnings().remove(m_text);
}

AllowQtWarnings::~AllowQtWarnings()
{
    allowedWarnings().removeOne(m_text);
}

bool AllowQtWarnings::allowed(const QString& message)
{
    for (const QString& t : allowedWarnings()) {
        if (message.contains(t)) {
            ++seenWarnings()[t];
            return true;
        }
    }
    return false;
}

int AllowQtWarnings::seen() const
{
    return seenWarnings().value(m_text);
}

void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

void PrintTo(const QByteArray& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ADD_FAILURE() << "cannot write " << path.toStdString();
    f.write(bytes);
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool fileExists(const QString& path)
{
    return QFileInfo::exists(path);
}

int budgetMs(int ms)
{
    static const double scale = [] {
        bool ok = false;
        const double s = qEnvironmentVariable("QDS_TEST_TIME_SCALE").toDouble(&ok);
        return ok && s >= 1 ? s : 1.0;
    }();
    return static_cast<int>(ms * scale);
}

bool serveEventsUntil(const std::function<bool()>& condition, int budget)
{
    QDeadlineTimer deadline(budgetMs(budget));
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void serveEventsFor(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

XServer::~XServer()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(budgetMs(5000)))
            m_process->kill();
        m_process->waitForFinished(budgetMs(5000));
    }
}

bool XServer::start()
{
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) {
        m_error = "Xvfb is not installed";
        return false;
    }
    // -displayfd: the server takes the first free number and writes it once it accepts
    // connections.
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"});
    QDeadlineTimer deadline(budgetMs(20000));
    QByteArray number;
    while (!number.endsWith('\n') && !deadline.hasExpired() &&
           m_process->state() != QProcess::NotRunning) {
        m_process->waitForReadyRead(100);
        number += m_process->readAll();
    }
    if (!number.endsWith('\n')) {
        m_error = "Xvfb did not tell its display";
        return false;
    }
    m_display = ":" + QString::fromLatin1(number.trimmed());
    return true;
}

bool processRuns(qint64 pid)
{
    const QByteArray stat = readBytes(QStringLiteral("/proc/%1/stat").arg(pid));
    // The state follows the name, which is in parentheses and may hold anything.
    const qsizetype close = stat.lastIndexOf(')');
    return close > 0 && stat.size() > close + 2 && stat[close + 2] != 'Z' && stat[close + 2] != 'X';
}
