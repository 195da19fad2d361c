#include "DriverErrorOutput.h"

namespace {

constexpr int kMaxLinesPerMinute = 100;
constexpr int kMaxLineChars = 1000;

} // namespace

void DriverErrorOutput::take(const QString& driverName, const QByteArray& bytes)
{
    m_pending += bytes;
    for (;;) {
        const qsizetype end = m_pending.indexOf('\n');
        if (end < 0 && m_pending.size() <= kMaxLineChars)
            return;
        const qsizetype take = end < 0 ? kMaxLineChars : end;
        QByteArray line = m_pending.left(take);
        m_pending.remove(0, end < 0 ? take : take + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        forward(driverName, line);
    }
}

void DriverErrorOutput::forward(const QString& driverName, const QByteArray& line)
{
    if (!m_window.isValid() || m_window.elapsed() > 60000) {
        m_window.start();
        m_lines = 0;
    }
    ++m_lines;
    if (m_lines <= kMaxLinesPerMinute)
        qWarning("Driver %s says: %s", qPrintable(driverName),
                 qPrintable(QString::fromUtf8(line).left(kMaxLineChars)));
    else if (m_lines == kMaxLinesPerMinute + 1)
        qWarning("Driver %s says more than %d lines a minute; the rest of this minute is dropped",
                 qPrintable(driverName), kMaxLinesPerMinute);
}
