#include "TextLines.h"

#include "Cp1252.h"

#include <QBuffer>

namespace {
constexpr qint64 kChunk = 64 * 1024;
}

TextLineReader::TextLineReader(QIODevice& device, qsizetype maxLineBytes)
    : m_device(device), m_maxLineBytes(maxLineBytes)
{
}

bool TextLineReader::fill()
{
    if (m_eof)
        return false;
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    const qsizetype old = m_buffer.size();
    m_buffer.resize(old + kChunk);
    const qint64 got = m_device.read(m_buffer.data() + old, kChunk);
    if (got < 0) {
        m_error = true;
        m_eof = true;
        m_buffer.resize(old);
        return false;
    }
    m_buffer.resize(old + got);
    if (got == 0)
        m_eof = true;
    return got > 0;
}

TextLineReader::Status TextLineReader::readLineBytes(QByteArray& line)
{
    line.clear();
    bool tooLong = false;
    for (;;) {
        if (m_pos >= m_buffer.size() && !fill()) {
            if (m_error)
                return Status::Error;
            if (line.isEmpty() && !tooLong)
                return Status::End;
            return tooLong ? Status::TooLong : Status::Line;
        }
        if (m_skipLeadingLf) {
            m_skipLeadingLf = false;
            if (m_buffer[m_pos] == '\n')
                ++m_pos;
            continue;
        }
        const char* begin = m_buffer.constData() + m_pos;
        const char* end = m_buffer.constData() + m_buffer.size();
        const char* p = begin;
        while (p != end && *p != '\r' && *p != '\n')
            ++p;
        const qsizetype take = p - begin;
        const qsizetype room = m_maxLineBytes - line.size();
        if (take > room) {
            line.append(begin, room);
            tooLong = true;
        } else if (!tooLong) {
            line.append(begin, take);
        }
        m_pos += take;
        if (p == end)
            continue;
        ++m_pos;
        if (*p == '\r')
            m_skipLeadingLf = true;
        return tooLong ? Status::TooLong : Status::Line;
    }
}

TextLineReader::Status TextLineReader::readLine(QString& line)
{
    QByteArray bytes;
    const Status status = readLineBytes(bytes);
    line = decodeCp1252(bytes);
    return status;
}

QStringList splitTextLines(const QByteArray& bytes)
{
    QByteArray copy(bytes);
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    TextLineReader reader(buffer, bytes.size() + 1);
    QStringList lines;
    QString line;
    while (reader.readLine(line) == TextLineReader::Status::Line)
        lines.append(line);
    return lines;
}

QByteArray textLine(const QString& line)
{
    return encodeCp1252(line) + "\r\n";
}
