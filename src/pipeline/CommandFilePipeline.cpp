#include "CommandFilePipeline.h"

#include "ResultFiles.h"
#include "common/InterruptibleWait.h"
#include "common/TextLines.h"
#include "common/platform/FileIo.h"
#include "driver/ResultCodes.h"

namespace {

const QString kStopLine = QStringLiteral("STOP");

} // namespace

// Marks the pipeline busy; a verdict left meanwhile is announced once the work that left it
// is over (its file deleted, the record updated).
struct CommandFilePipeline::BusyScope
{
    explicit BusyScope(CommandFilePipeline& pipeline) : m_pipeline(pipeline)
    {
        ++m_pipeline.m_busyDepth;
    }
    ~BusyScope()
    {
        --m_pipeline.m_busyDepth;
        m_pipeline.announceVerdict();
    }
    CommandFilePipeline& m_pipeline;
};

void CommandFilePipeline::announceVerdict()
{
    if (auto verdict = m_verdicts.takeVerdict(); verdict && m_verdictListener)
        m_verdictListener(*verdict);
}

void CommandFilePipeline::markComplete(const QString& path)
{
    m_scanner.markComplete(path);
}

CommandFilePipeline::CommandFilePipeline(const Settings& settings, RegisterDriver& driver,
                                         StatusModel& status, const Clock& clock,
                                         QString programName, Options options,
                                         InterruptibleWait* waits)
    : m_settings(settings), m_driver(driver), m_status(status), m_clock(clock),
      m_programName(std::move(programName)), m_options(options), m_faults(settings, status),
      m_scanner(options.settleMs), m_record(recoveryRecordPath()),
      m_verdicts(settings, driver, status, clock, m_programName, m_scanner, m_record, m_faults),
      m_recovery(settings, m_record, m_scanner, m_verdicts, m_faults, options.maxLineBytes),
      m_waits(waits ? waits : &m_ownWaits)
{
    m_openFile = [](const QString& path) -> std::unique_ptr<QIODevice> {
        return openRegularFileForReading(path);
    };
}

QString CommandFilePipeline::recoveryRecordPath() const
{
    return m_settings.DirectoryInput + m_programName + QStringLiteral(".REC");
}

void CommandFilePipeline::setFolderWatcher(std::unique_ptr<FolderWatcher> watcher)
{
    m_scanner.setWatcher(std::move(watcher));
}

bool CommandFilePipeline::watchInputFolder()
{
    return m_scanner.watch(m_settings.DirectoryInput);
}

void CommandFilePipeline::runTick(const std::function<bool()>& stopRequested, TickCause cause,
                                  const std::function<bool()>& endAfterRound)
{
    auto stopping = [&] { return stopRequested && stopRequested(); };
    BusyScope busy(*this);
    bool byTimer = cause == TickCause::Timer;
    // The folder may have been deleted and made again since the watch was lost.
    if (byTimer && folderWatcher() && !folderWatcher()->isWatching())
        watchInputFolder();
    // What was sent in this tick, so that a file that somehow stays in the folder unchanged is
    // never sent twice in a row.
    QHash<QString, FileSignature> sent;
    bool waitedForWriters = false;
    int round = 0;
    if (!checkInputFolder())
        return;
    m_recovery.persistLeftFiles();
    for (;;) {
        const auto listing = byTimer ? m_scanner.listOnTimer(m_settings.DirectoryInput)
                                     : m_scanner.listFromEvents(m_settings.DirectoryInput);
        byTimer = false;
        // A round is what one listing found; the next listing starts a new one.
        if (round++ > 0 && endAfterRound && endAfterRound())
            return;
        QStringList batch;
        for (const QString& path : listing.ready) {
            const auto it = sent.constFind(path);
            if (it == sent.cend() || commandFileSignature(path) != *it)
                batch.append(path);
        }
        qsizetype waiting = batch.size() + listing.settling;
        m_status.filesWaiting(int(waiting));
        if (batch.isEmpty()) {
            // Files still being written are worth one short wait, so that a file dropped during
            // the tick is still sent in it.
            if (listing.settling == 0 || waitedForWriters || stopping())
                return;
            waitedForWriters = true;
            m_waits->serveEventsFor(listing.msUntilSettled);
            continue;
        }
        // Files that changed or went are forgotten on the disk too.
        m_recovery.persistLeftFiles();
        for (const QString& path : batch) {
            if (stopping())
                return;
            const auto signature = commandFileSignature(path);
            if (!signature)
                continue; // vanished, or replaced by something that is not a file
            sent.insert(path, *signature);
            // Nothing more can be sent now (no room, the folder is not ours): the rest waits.
            if (!sendPolledFile(path, signature))
                return;
            m_status.filesWaiting(int(--waiting));
        }
    }
}

qint32 CommandFilePipeline::sendLine(qint32 row, const QString& line)
{
    const qint16 mode = (row > 1 && line.startsWith(u'=')) ? 0 : 1;
    bool coverRecorded = false;
    for (;;) {
        qint32 result = 0;
        qint32 rowArg = row;
        QString lineArg = line;
        try {
            result = m_driver.SendCommand(rowArg, mode, lineArg);
        } catch (const DriverCallError& e) {
            qWarning("SendCommand failed: %s", e.what());
            return ResultCode::CannotPerform;
        }
        // Read after every line, whatever the result: a driver may rely on it.
        const qint32 extended = m_driver.ExtendedResult();
        const bool coverOpen =
            result == ResultCode::SpecificError && extended == ResultCode::CoverOpen;
        if (coverOpen && !coverRecorded) {
            m_verdicts.RecordOutcome(row, line, result, QString());
            coverRecorded = true;
        }
        if (!coverOpen)
            return result;
        // A shut-down asked for from outside ends an endless wait: the line stays failed.
        if (m_abortCheck && m_abortCheck())
            return result;
        if (!m_waits->serveEventsFor(m_options.coverRetryPauseMs))
            return result;
    }
}

bool CommandFilePipeline::checkInputFolder()
{
    BusyScope busy(*this);
    const QString& folder = m_settings.DirectoryInput;
    const int language = m_settings.languageOffset();
    using Source = FolderFaults::Source;
    m_faults.recheck({folder, m_settings.DirectoryOutput});
    const auto problem = folderProblem(folder);
    bool takenOver = false;
    if (problem) {
        m_faults.set(Source::Folder,
                     *problem == FolderProblem::NotWritable
                         ? FolderFaults::folderNotWritable(language, folder)
                         : FolderFaults::folderMissing(language, folder),
                     folder);
        m_faults.clear(Source::Owner);
    } else {
        m_faults.clear(Source::Folder);
        m_record.setPath(recoveryRecordPath());
        const auto opened = m_record.open();
        takenOver = opened == RecoveryRecord::Opened::Newly;
        if (opened == RecoveryRecord::Opened::HeldElsewhere)
            m_faults.set(Source::Owner, FolderFaults::folderHeldElsewhere(language, folder),
                         folder);
        else
            m_faults.clear(Source::Owner);
        if (opened == RecoveryRecord::Opened::No)
            m_faults.set(Source::RecordOpen,
                         FolderFaults::fileNotWritable(language, recoveryRecordPath()), folder);
        else
            m_faults.clear(Source::RecordOpen);
    }
    m_faults.show();
    if (takenOver)
        m_recovery.takeOver();
    // A file that could not be deleted afterwards would be sent again after a restart.
    return !m_faults.has(Source::Folder) && !m_faults.has(Source::Owner) &&
           !m_faults.has(Source::RecordOpen);
}

void CommandFilePipeline::ProcessCommandFile(const QString& path, bool deleteFile)
{
    if (deleteFile)
        sendPolledFile(path, commandFileSignature(path));
    else
        sendGivenFile(path);
}

std::unique_ptr<QIODevice>
CommandFilePipeline::openCommandFile(const QString& path, const QString& base, bool& unreadable)
{
    auto device = m_openFile(path);
    unreadable = !device && fileStatus(path).type != FileStatus::Type::Missing;
    if (unreadable)
        m_verdicts.unreadable(path, base);
    return device;
}

LinesSent CommandFilePipeline::sendLines(QIODevice& device, RecoveryRecord* record)
{
    LinesSent sent;
    TextLineReader reader(device, m_options.maxLineBytes);
    for (;;) {
        const auto status = reader.readLine(sent.line);
        if (status == TextLineReader::Status::End)
            break;
        ++sent.row;
        if (status == TextLineReader::Status::Error) {
            // The verdict names the row that could not be read.
            sent.result = ResultCode::CannotSend;
            sent.line.clear();
            break;
        }
        if (status == TextLineReader::Status::TooLong) {
            sent.result = ResultCode::BufferOverflow;
            break;
        }
        if (sent.line == kStopLine) {
            if (m_closeRequest)
                m_closeRequest();
            continue;
        }
        sent.result = sendLine(sent.row, sent.line);
        countLine(sent.result);
        if (sent.result != 0)
            break;
        if (record)
            record->setAcceptedRow(sent.row);
    }
    // Every row taken (a STOP line or a blank last one included): the file is whole at the
    // register.
    if (record && sent.result == 0)
        record->setAcceptedRow(sent.row);
    return sent;
}

void CommandFilePipeline::countLine(qint32 result)
{
    if (result == 0) {
        ++m_lineCounts.sent;
        return;
    }
    const bool known =
        m_lineCounts.refused.contains(result) || m_lineCounts.refused.size() < kCodesCounted - 1;
    ++m_lineCounts.refused[known ? result : 0];
}

void CommandFilePipeline::sendGivenFile(const QString& path)
{
    BusyScope busy(*this);
    m_faults.beginGivenFile();
    const QString base = m_verdicts.startResults(path);
    bool unreadable = false;
    auto device = openCommandFile(path, base, unreadable);
    // A missing start, stop or document file has no lines: nothing to send, a successful
    // outcome.
    const LinesSent sent = device ? sendLines(*device, nullptr) : LinesSent{};
    device.reset();
    if (!unreadable)
        m_verdicts.finish(path, false, sent, base);
    const auto resultNotWritten = m_faults.endGivenFile();
    if (!resultNotWritten || unreadable)
        return;
    // It reached the register: that is what the user must know, beside the missing result.
    qWarning("%s was sent%s, but its result could not be written to %s", qPrintable(path),
             sent.result == 0 ? "" : qPrintable(QStringLiteral(" (error %1)").arg(sent.result)),
             qPrintable(*resultNotWritten));
    if (sent.result == 0) {
        const QString text = FolderFaults::givenFileResultNotWritable(m_settings.languageOffset(),
                                                                      path, *resultNotWritten);
        m_status.showNotice(text);
    }
}

bool CommandFilePipeline::sendPolledFile(const QString& path,
                                         const std::optional<FileSignature>& signature)
{
    BusyScope busy(*this);
    // A polled file that vanished since the listing is simply passed over.
    if (!signature)
        return true;
    // No file is sent unless its verdict can be written: the folder is ours and can be
    // written, and room for the verdict is kept on its disk.
    if (!checkInputFolder())
        return false;
    const bool room = m_record.reserve(verdictReserveBytes());
    if (room)
        m_faults.clear(FolderFaults::Source::Room);
    else
        m_faults.set(FolderFaults::Source::Room,
                     FolderFaults::noRoom(m_settings.languageOffset(), m_settings.DirectoryInput),
                     m_settings.DirectoryInput);
    // A verdict is also its log line: a log that cannot be made (a folder has its name) keeps
    // every file waiting.
    const bool logBlocked = fileStatus(logFilePath()).type == FileStatus::Type::Folder;
    if (logBlocked)
        m_faults.fileWritten(FolderFaults::Source::Log, true, logFilePath());
    m_faults.show();
    if (!room || logBlocked)
        return false;
    const QString base = m_verdicts.startResults(path);
    bool unreadable = false;
    auto device = openCommandFile(path, base, unreadable);
    if (!device) {
        m_recovery.persistLeftFiles();
        return true;
    }
    if (m_fileStarted)
        m_fileStarted(path);
    // Polled files are the ones that could be sent again automatically after a crash.
    m_record.setPath(recoveryRecordPath());
    RecoveryState state;
    state.file = path;
    state.size = signature->size;
    state.modifiedMs = signature->modified.toMSecsSinceEpoch();
    // After a failed file the number is read again, so that a crash in this one can still be
    // judged by it.
    state.lastReceipt = m_verdicts.lastReceipt();
    if (!state.lastReceipt && m_verdicts.receiptNumberLost())
        state.lastReceipt = m_verdicts.readReceiptNumber();
    state.time = journalTimestamp(m_clock.now());
    state.registerName = m_registerName;
    const bool recorded = m_record.begin(state);
    m_faults.fileWritten(FolderFaults::Source::RecordWrite, !recorded, m_record.path());
    // Without the record a crash could send it twice: it waits for a later tick.
    if (!recorded)
        return false;
    const LinesSent sent = sendLines(*device, &m_record);
    device.reset();
    m_verdicts.finish(path, true, sent, base);
    m_verdicts.makeDurable(path);
    // A file left in the folder is known to be sent before the record says nothing is.
    m_recovery.persistLeftFiles();
    m_record.finish();
    return true;
}

qint64 CommandFilePipeline::verdictReserveBytes() const
{
    // The .KO (made as a temporary file) and its log line, each at most one line of the file
    // and its message; the .OK's last line, and the list of files left behind, are small.
    return 2 * m_options.maxLineBytes + 32 * 1024;
}

void CommandFilePipeline::recoverInterruptedFile()
{
    BusyScope busy(*this);
    // Taking the folder deals with its record; a folder another instance holds is dealt with
    // when it is taken over.
    checkInputFolder();
}

void CommandFilePipeline::setRegisterName(const QString& name)
{
    m_registerName = name;
    m_recovery.setRegisterName(name);
}

void CommandFilePipeline::setDriverFault(const QString& why)
{
    m_faults.setDriverFault(why);
}

QString CommandFilePipeline::logFilePath() const
{
    return m_verdicts.logFilePath();
}

void CommandFilePipeline::logNotice(const QString& key, const QString& value)
{
    m_verdicts.logNotice(key, value);
}

QString CommandFilePipeline::QueryAnswerTail()
{
    return m_verdicts.QueryAnswerTail();
}

bool CommandFilePipeline::WriteDumpLine(const QString& text)
{
    return m_verdicts.WriteDumpLine(text);
}

void CommandFilePipeline::RecordOutcome(qint32 row, const QString& line, qint32 code,
                                        const QString& base)
{
    m_verdicts.RecordOutcome(row, line, code, base);
}
