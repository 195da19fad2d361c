#include "VerdictWriter.h"

#include "ResultFiles.h"
#include "common/AtomicFile.h"
#include "common/Cp1252.h"
#include "common/TextLines.h"
#include "common/platform/FileIo.h"
#include "driver/ResultCodes.h"
#include "messages/MessageCatalogue.h"

namespace {

void removeIfExists(const QString& path)
{
    // Removed first and looked at only if that failed: most files have no old results.
    if (!removeFile(path) && fileStatus(path).type != FileStatus::Type::Missing)
        qWarning("Cannot remove old result file %s", qPrintable(path));
}

QString fileNameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// "SCONTR.TXT", 2 -> "SCONTR_2.TXT"
QString withNumber(const QString& name, int number)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString suffix = QStringLiteral("_%1").arg(number);
    return dot < 0 ? name + suffix : name.left(dot) + suffix + name.mid(dot);
}

} // namespace

VerdictWriter::VerdictWriter(const Settings& settings, RegisterDriver& driver, StatusModel& status,
                             const Clock& clock, QString programName, InputFolderScanner& scanner,
                             RecoveryRecord& record, PipelineFaults& faults)
    : m_settings(settings), m_driver(driver), m_status(status), m_clock(clock),
      m_programName(std::move(programName)), m_scanner(scanner), m_record(record), m_faults(faults)
{
}

QString VerdictWriter::logFilePath() const
{
    return m_settings.DirectoryInput + m_programName + QStringLiteral(".LOG");
}

ActivityLog VerdictWriter::log() const
{
    return ActivityLog(logFilePath(), m_settings.logLimitBytes());
}

void VerdictWriter::logNotice(const QString& key, const QString& path)
{
    m_faults.fileWritten(FolderFaults::Source::Log, !writeWithReserve([&] {
                             return log().append(resultTimestamp(m_clock.now()) + u';' + key +
                                                 u'=' + path);
                         }),
                         logFilePath());
}

bool VerdictWriter::writeWithReserve(const std::function<bool()>& write)
{
    if (write())
        return true;
    // The disk filled since the file began: the room kept for its verdict is given back for it.
    m_record.releaseReserve();
    return write();
}

QString VerdictWriter::startResults(const QString& path)
{
    QString base = resultBaseFor(path);
    // A document called "Cassa.OK" would be its own result: its results then take its whole
    // name ("Cassa.OK.OK"), so that it is never deleted or overwritten by them.
    if (base + QStringLiteral(".OK") == path || base + QStringLiteral(".KO") == path)
        base = path;
    removeIfExists(base + QStringLiteral(".OK"));
    removeIfExists(base + QStringLiteral(".KO"));
    m_resultBase = base;
    return base;
}

bool VerdictWriter::WriteDumpLine(const QString& text)
{
    // Only blanks make an empty text: tabs and line breaks are the register's text.
    if (QString(text).remove(u' ').isEmpty() || m_resultBase.isEmpty())
        return true;
    const QString ok = m_resultBase + QStringLiteral(".OK");
    const QByteArray bytes = textLine(dumpLine(m_clock.now(), text));
    // The first line makes the file in one step: a kill never leaves an empty .OK, which
    // would read as success.
    const bool written = writeWithReserve([&] {
        return fileStatus(ok).type == FileStatus::Type::Missing ? replaceOwnFile(ok, bytes)
                                                                : appendToFile(ok, bytes);
    });
    m_faults.fileWritten(FolderFaults::Source::ResultFile, !written, ok);
    return written;
}

void VerdictWriter::finish(const QString& path, bool polled, const LinesSent& sent,
                           const QString& base)
{
    const auto& [result, row, line] = sent;
    // The verdict — result file and log line — comes before the file leaves: a crash in
    // between must not leave a file gone with only the .OK of its dumps, which reads like
    // success, and a file whose log line could not be written stays as its trace.
    if (result != 0) {
        const bool verdict = recordFailure(row, line, result, base, false, true);
        const bool logged = recordFailure(row, line, result, base, true, false);
        failKeepingACopy(path, result, polled, verdict && logged);
        noteVerdict(path, result, row, line);
        return;
    }
    const bool verdict = WriteDumpLine(QueryAnswerTail());
    // A power cut must not leave the file gone and its verdict empty.
    if (polled && !flushExistingFile(base + QStringLiteral(".OK")))
        qWarning("Cannot flush %s", qPrintable(base + QStringLiteral(".OK")));
    const bool logged = recordSuccess();
    if (polled && verdict && logged) {
        m_record.verdictWritten(true);
        deleteOrPassOver(path);
    } else if (polled) {
        keepWithoutVerdict(path);
    }
    noteVerdict(path, result, row, line);
}

void VerdictWriter::RecordOutcome(qint32 row, const QString& line, qint32 code, const QString& base)
{
    if (code != 0) {
        recordFailure(row, line, code, base, true, true);
        return;
    }
    recordSuccess();
}

bool VerdictWriter::recordSuccess()
{
    const QDateTime now = m_clock.now();
    const ActivityLog activity = log();
    int ticket = 0;
    m_lastReceipt.reset();
    m_numberLost = false;
    if (const auto status = queryStatus(); status && status->result == 0) {
        ticket = receiptNumberFromAnswer(status->answer);
        // An unreadable number is no number for crash recovery: a person would decide.
        m_lastReceipt = readableReceiptNumber(status->answer);
        if (!m_lastReceipt)
            qWarning("The register's status answer \"%s\" has no receipt number in characters 9 "
                     "to 12 (12 characters, the last four digits, are expected); the log says "
                     "Ticket=%d",
                     qPrintable(status->answer.left(80)), ticket);
    }
    const QString entry = ticketLogLine(now, ticket);
    const bool logged = writeWithReserve([&] { return activity.append(entry); });
    m_status.fileSent(now, ticket);
    m_faults.fileWritten(FolderFaults::Source::Log, !logged, activity.path());
    return logged;
}

std::optional<int> VerdictWriter::readReceiptNumber()
{
    m_numberLost = false;
    if (const auto status = queryStatus(); status && status->result == 0)
        m_lastReceipt = readableReceiptNumber(status->answer);
    return m_lastReceipt;
}

bool VerdictWriter::recordFailure(qint32 row, const QString& line, qint32 code, const QString& base,
                                  bool toLog, bool toFile)
{
    bool written = true;
    const QString message = ResultCodeText(m_settings.languageOffset(), code);
    auto extended = [&]() -> std::optional<qint32> {
        if (code != ResultCode::ExtendedError)
            return std::nullopt;
        return m_driver.ExtendedResult();
    };
    if (toFile && !base.trimmed().isEmpty()) {
        const QString ko = base + QStringLiteral(".KO");
        const QByteArray bytes = textLine(failureRecord(code, message, row, line, extended()));
        written = writeWithReserve([&] { return replaceOwnFile(ko, bytes); });
        m_faults.fileWritten(FolderFaults::Source::ResultFile, !written, ko);
    }
    if (toLog) {
        const ActivityLog activity = log();
        const QString entry = resultTimestamp(m_clock.now()) + u';' +
                              failureRecord(code, message, row, line, extended());
        const bool logged = writeWithReserve([&] { return activity.append(entry); });
        m_faults.fileWritten(FolderFaults::Source::Log, !logged, activity.path());
        written = written && logged;
    }
    return written;
}

void VerdictWriter::failKeepingACopy(const QString& path, qint32 code, bool polled,
                                     bool verdictWritten)
{
    // A failed file may have left the register's number anywhere: it is read again before the
    // next file, so that a crash in that one can still tell whether it reached the register.
    m_lastReceipt.reset();
    m_numberLost = true;
    m_status.fileFailed(code);
    const bool copied = copyToOutputFolder(path);
    m_faults.fileWritten(FolderFaults::Source::Copy, !copied,
                         m_settings.DirectoryOutput + fileNameOf(path));
    m_status.bringForward();
    if (!polled)
        return;
    if (!verdictWritten) {
        keepWithoutVerdict(path);
    } else if (copied) {
        m_record.verdictWritten(false);
        deleteOrPassOver(path);
    } else {
        // The file is its only copy: it stays, and is not sent again until it changes.
        m_scanner.passOver(path);
        logNotice(QStringLiteral("NotCopied"), path);
    }
}

bool VerdictWriter::copyToOutputFolder(const QString& path)
{
    // A copy of the same name made within the same minute keeps its place: this one is
    // numbered.
    const QString prefix = m_settings.DirectoryOutput + copyTimestamp(m_clock.now());
    QString target = prefix + fileNameOf(path);
    for (int n = 2; fileStatus(target).type != FileStatus::Type::Missing; ++n)
        target = prefix + withNumber(fileNameOf(path), n);
    const auto source = openRegularFileForReading(path);
    if (!source)
        return false;
    AtomicFileWriter copy(target);
    if (!copy.open())
        return false;
    QByteArray chunk;
    while (!(chunk = source->read(64 * 1024)).isEmpty()) {
        if (!copy.write(chunk))
            return false;
    }
    // The copy must outlive a power cut that the deletion of the original outlives, even on
    // another disk.
    return source->error() == QFileDevice::NoError && copy.commit() &&
           flushFolder(folderOf(target));
}

void VerdictWriter::deleteOrPassOver(const QString& path)
{
    // A read-only file is not forced; it is not sent again until it changes.
    if (!fileStatus(path).ownerWritable || !removeFile(path)) {
        m_scanner.passOver(path);
        logNotice(QStringLiteral("NotDeleted"), path);
    }
}

void VerdictWriter::keepWithoutVerdict(const QString& path)
{
    // Sent, but its verdict could not be written: the file stays as the only trace, and is
    // never sent again by itself.
    m_scanner.passOver(path);
    logNotice(QStringLiteral("NoVerdict"), path);
}

void VerdictWriter::makeDurable(const QString& path)
{
    if (!flushFolder(folderOf(path)))
        qWarning("Cannot flush the folder of %s", qPrintable(path));
}

std::optional<VerdictWriter::StatusAnswer> VerdictWriter::queryStatus()
{
    StatusAnswer status;
    try {
        status.result = m_driver.SendQuery(0, 0, kStatusQuery, status.answer);
    } catch (const DriverCallError& e) {
        qWarning("SendQuery failed: %s", e.what());
        return std::nullopt;
    }
    return status;
}

QString VerdictWriter::QueryAnswerTail()
{
    const auto status = queryStatus();
    return status ? status->answer.right(4) : QString();
}

void VerdictWriter::unreadable(const QString& path, const QString& base)
{
    // A file we cannot read is not an empty file: it keeps its place, gets a verdict, and
    // waits until it changes.
    m_status.fileFailed(ResultCode::CannotSend);
    m_status.bringForward();
    m_scanner.passOver(path);
    RecordOutcome(0, QString(), ResultCode::CannotSend, base);
    noteVerdict(path, ResultCode::CannotSend, 0, QString());
}

void VerdictWriter::finishWritten(const QString& path, bool sent, const QString& base)
{
    deleteOrPassOver(path);
    FileVerdict verdict{path, m_clock.now(), 0, 0, QString(), QString(), std::nullopt};
    if (!sent) {
        // What the .KO says is the verdict, as it was written before the crash.
        const auto ko = openRegularFileForReading(base + QStringLiteral(".KO"));
        const auto failure = parseFailureRecord(ko ? decodeCp1252(ko->readAll()) : QString());
        verdict.code = failure ? failure->code : ResultCode::CannotSend;
        verdict.row = failure ? failure->row : 0;
        verdict.line = failure ? failure->line : QString();
        verdict.text =
            failure ? failure->message : ResultCodeText(m_settings.languageOffset(), verdict.code);
    }
    m_verdict = verdict;
}

void VerdictWriter::finishReached(const QString& path, const QString& answer, qint32 acceptedRow,
                                  const QString& base)
{
    const bool verdict = WriteDumpLine(answer.right(4));
    flushExistingFile(base + QStringLiteral(".OK"));
    if (verdict)
        deleteOrPassOver(path);
    else
        keepWithoutVerdict(path);
    RecordOutcome(acceptedRow, QString(), 0, base);
    noteVerdict(path, 0, acceptedRow, QString());
}

void VerdictWriter::noteVerdict(const QString& path, qint32 code, qint32 row, const QString& line)
{
    FileVerdict verdict{path, m_clock.now(), code, row, line, QString(), std::nullopt};
    if (code != 0)
        verdict.text = ResultCodeText(m_settings.languageOffset(), code);
    else
        verdict.receipt = m_lastReceipt;
    m_verdict = verdict;
}
