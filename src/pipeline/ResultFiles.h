#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// The folder of a path, with its final "/" (empty for a bare name).
QString folderOf(const QString& path);

// Base of the result files of a command file: the path cut before the first ".TXT" (any letter
// case) of the file's name. A name without ".TXT" loses its last extension instead, so the
// results of a configuration document lie beside it.
QString resultBaseFor(const QString& path);

// "dd/mm/yyyy hh:mm;Dump=<text>"
QString dumpLine(const QDateTime& t, const QString& text);

// "Error=<code>;<message>;Row <row>;<line>[;Err.Esteso=<extended>]"
QString failureRecord(qint32 code, const QString& message, qint32 row, const QString& line,
                      std::optional<qint32> extended);

// What a failure record says; nothing when the text is not one.
struct FailureFields
{
    qint32 code = 0;
    QString message;
    qint32 row = 0;
    QString line;
};
std::optional<FailureFields> parseFailureRecord(QString text);

// "dd/mm/yyyy hh:mm;Ticket=<number>"
QString ticketLogLine(const QDateTime& t, int number);

// The receipt number from characters 9 to 12 of the status answer, read as a number the way the
// register's tools do: blanks ignored, reading stops at the first character that cannot continue
// a number, fractions go to the nearest integer (halves to even). 0 when nothing can be read or
// the value does not fit in 16 bits.
int receiptNumberFromAnswer(const QString& answer);
// The receipt number only when the answer has the documented form (at least 12 characters,
// the 9th to the 12th digits); what a comparison of numbers may rely on.
std::optional<int> readableReceiptNumber(const QString& answer);
