#pragma once

#include "ActivityLog.h"
#include "InputFolderScanner.h"
#include "PipelineFaults.h"
#include "RecoveryRecord.h"
#include "common/Clock.h"
#include "driver/RegisterDriver.h"
#include "settings/Settings.h"
#include "status/StatusModel.h"

#include <QDateTime>
#include <functional>
#include <optional>
#include <utility>

// The verdict a command file got, as its result files and log line say it.
struct FileVerdict
{
    QString path;
    QDateTime time;
    qint32 code = 0; // 0: sent
    qint32 row = 0;
    QString line;
    QString text;               // the error's text, in the language of the settings
    std::optional<int> receipt; // the register's receipt number after a sent file, when read
};

// What the lines of a file came to: the row reached, its text and the result (0: all sent).
struct LinesSent
{
    qint32 result = 0;
    qint32 row = 0;
    QString line;
};

// Leaves the verdict of a command file, and is the one place that decides what becomes of the
// file: its result files beside it (.OK with its dump lines, or .KO), its line in the activity
// log, the dated copy of a failed file in the output folder, and whether the file is deleted,
// passed over (left with its verdict, not sent again until it changes) or kept without one.
class VerdictWriter
{
public:
    VerdictWriter(const Settings& settings, RegisterDriver& driver, StatusModel& status,
                  const Clock& clock, QString programName, InputFolderScanner& scanner,
                  RecoveryRecord& record, PipelineFaults& faults);

    QString logFilePath() const;
    // A dated "<key>=<value>" line in the activity log.
    void logNotice(const QString& key, const QString& value);
    // A write of a verdict that, failing, is tried again with the room kept for it.
    bool writeWithReserve(const std::function<bool()>& write);

    // Clears the earlier results of the file about to be sent; its result base.
    QString startResults(const QString& path);
    // The result base the dump lines go to (a recovered file's, at start-up).
    void setResultBase(const QString& base) { m_resultBase = base; }
    // A dated ";Dump=" line in the current file's .OK; false when it could not be written.
    bool WriteDumpLine(const QString& text);

    // The verdict of a file once its lines are sent. A polled file then leaves the folder, or
    // stays passed over; a given one (start, stop, a document) always stays.
    void finish(const QString& path, bool polled, const LinesSent& sent, const QString& base);
    // A file that cannot be read: it keeps its place with its verdict until it changes.
    void unreadable(const QString& path, const QString& base);
    // A recovered file that reached the register: the register's answer is its dump line.
    void finishReached(const QString& path, const QString& answer, qint32 acceptedRow,
                       const QString& base);
    // Log line, .KO file (when base is not blank) or the receipt shown.
    void RecordOutcome(qint32 row, const QString& line, qint32 code, const QString& base);
    // A recovered file whose verdict was whole on the disk before the crash: only the file is
    // left to go (a failed one's copy is made already).
    void finishWritten(const QString& path, bool sent, const QString& base);
    // The register's receipt number, read now (one status query); none when it cannot be read.
    std::optional<int> readReceiptNumber();
    // Everything the verdict of a polled file needs is on the disk before the record says that
    // nothing is being sent.
    void makeDurable(const QString& path);

    // The register's status answer; nothing when the driver call itself failed.
    struct StatusAnswer
    {
        qint32 result = 0;
        QString answer;
    };
    std::optional<StatusAnswer> queryStatus();
    // Last four characters of the register's status answer.
    QString QueryAnswerTail();
    // The verdict left since the last call, if any.
    std::optional<FileVerdict> takeVerdict() { return std::exchange(m_verdict, std::nullopt); }
    // The receipt number last read from the register; none after a failed file.
    std::optional<int> lastReceipt() const { return m_lastReceipt; }
    // A failed file left the number unknown, and it was not read since.
    bool receiptNumberLost() const { return m_numberLost; }

private:
    ActivityLog log() const;
    // False when what was asked for (the .KO, the log line) could not be written.
    bool recordFailure(qint32 row, const QString& line, qint32 code, const QString& base,
                       bool toLog, bool toFile);
    // The log line of a sent file and the receipt shown; false when the line was not written.
    bool recordSuccess();
    void failKeepingACopy(const QString& path, qint32 code, bool polled, bool verdictWritten);
    bool copyToOutputFolder(const QString& path);
    void deleteOrPassOver(const QString& path);
    void keepWithoutVerdict(const QString& path);
    void noteVerdict(const QString& path, qint32 code, qint32 row, const QString& line);

    const Settings& m_settings;
    RegisterDriver& m_driver;
    StatusModel& m_status;
    const Clock& m_clock;
    QString m_programName;
    InputFolderScanner& m_scanner;
    RecoveryRecord& m_record;
    PipelineFaults& m_faults;
    QString m_resultBase;
    std::optional<int> m_lastReceipt; // as last read from the register
    bool m_numberLost = false;
    std::optional<FileVerdict> m_verdict;
};
