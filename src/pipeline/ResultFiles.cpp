#include "ResultFiles.h"

#include "common/Clock.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

qsizetype fileNameStart(const QString& path)
{
    qsizetype slash = path.lastIndexOf(u'/');
    if (QDir::separator() != u'/')
        slash = std::max(slash, path.lastIndexOf(QDir::separator()));
    return slash + 1;
}

// Reads a number the way the classic Val function does, after blanks have been removed.
double readLeadingNumber(const QString& s)
{
    if (s.size() >= 2 && s[0] == u'&') {
        const QChar kind = s[1].toUpper();
        const int base = kind == u'H' ? 16 : kind == u'O' ? 8 : 0;
        if (base != 0) {
            double v = 0;
            for (qsizetype i = 2; i < s.size(); ++i) {
                const int d = s[i].isDigit() && s[i].unicode() <= '9' ? s[i].unicode() - '0'
                              : (base == 16 && s[i].toUpper() >= u'A' && s[i].toUpper() <= u'F')
                                  ? s[i].toUpper().unicode() - 'A' + 10
                                  : -1;
                if (d < 0 || d >= base)
                    break;
                v = v * base + d;
            }
            return v;
        }
    }
    auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    qsizetype i = 0;
    QString number;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
        number += s[i++];
    qsizetype digits = 0;
    while (i < s.size() && isDigit(s[i]))
        number += s[i++], ++digits;
    if (i < s.size() && s[i] == u'.') {
        number += s[i++];
        while (i < s.size() && isDigit(s[i]))
            number += s[i++], ++digits;
    }
    if (digits == 0)
        return 0;
    if (i < s.size() && (s[i].toUpper() == u'E' || s[i].toUpper() == u'D')) {
        QString exponent = QStringLiteral("e");
        qsizetype j = i + 1;
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-'))
            exponent += s[j++];
        qsizetype expDigits = 0;
        while (j < s.size() && isDigit(s[j]))
            exponent += s[j++], ++expDigits;
        if (expDigits > 0)
            number += exponent;
    }
    bool ok = false;
    const double v = number.toDouble(&ok);
    return ok ? v : 0;
}

} // namespace

QString resultBaseFor(const QString& path)
{
    const qsizetype nameStart = fileNameStart(path);
    const QString name = path.mid(nameStart);
    qsizetype cut = name.indexOf(QLatin1String(".TXT"), 0, Qt::CaseInsensitive);
    if (cut < 0)
        cut = name.lastIndexOf(u'.');
    if (cut < 0)
        return path;
    return path.left(nameStart + cut);
}

QString dumpLine(const QDateTime& t, const QString& text)
{
    return resultTimestamp(t) + QStringLiteral(";Dump=") + text;
}

QString failureRecord(qint32 code, const QString& message, qint32 row, const QString& line,
                      std::optional<qint32> extended)
{
    QString out = QStringLiteral("Error=") + QString::number(code) + u';' + message +
                  QStringLiteral(";Row ") + QString::number(row) + u';' + line;
    if (extended)
        out += QStringLiteral(";Err.Esteso=") + QString::number(*extended);
    return out;
}

QString ticketLogLine(const QDateTime& t, int number)
{
    return resultTimestamp(t) + QStringLiteral(";Ticket=") + QString::number(number);
}

int receiptNumberFromAnswer(const QString& answer)
{
    QString piece = answer.mid(8, 4);
    piece.remove(u' ');
    piece.remove(u'\t');
    piece.remove(u'\n');
    const double value = std::nearbyint(readLeadingNumber(piece));
    if (!std::isfinite(value) || value < std::numeric_limits<qint16>::min() ||
        value > std::numeric_limits<qint16>::max())
        return 0;
    return static_cast<int>(value);
}

std::optional<int> readableReceiptNumber(const QString& answer)
{
    if (answer.size() < 12)
        return std::nullopt;
    const QStringView digits = QStringView(answer).mid(8, 4);
    if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    return digits.toInt();
}

QString folderOf(const QString& path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

std::optional<FailureFields> parseFailureRecord(QString text)
{
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    static const QRegularExpression record(
        QStringLiteral("^Error=(-?\\d+);(.*?);Row (-?\\d+);(.*?)(;Err\\.Esteso=-?\\d+)?$"),
        QRegularExpression::DotMatchesEverythingOption);
    const auto match = record.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return FailureFields{match.captured(1).toInt(), match.captured(2), match.captured(3).toInt(),
                         match.captured(4)};
}
