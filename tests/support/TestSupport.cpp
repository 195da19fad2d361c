#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
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

TempFolder::TempFolder()
{
    if (!m_dir.isValid())
        ADD_FAILURE() << "no temporary folder";
}

bool serveEventsUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}
