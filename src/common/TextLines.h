#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

// Reads Windows-1252 text line by line. A line ends at CR LF, at LF alone or at CR alone; a last
// line without terminator counts; an empty input has no lines. Memory stays bounded: a line
// longer than the limit is reported as too long, with only its first bytes kept.
class TextLineReader
{
public:
    enum class Status { Line, TooLong, End, Error };

    static constexpr qsizetype kDefaultMaxLineBytes = 65536;

    explicit TextLineReader(QIODevice& device, qsizetype maxLineBytes = kDefaultMaxLineBytes);

    // Raw bytes of the next line, without its terminator.
    Status readLineBytes(QByteArray& line);
    // The same, decoded.
    Status readLine(QString& line);

private:
    bool fill();

    QIODevice& m_device;
    qsizetype m_maxLineBytes;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
    bool m_error = false;
    bool m_skipLeadingLf = false;
};

// Splits a whole text held in memory by the same rules.
QStringList splitTextLines(const QByteArray& bytes);
QByteArray textLine(const QString& line);
