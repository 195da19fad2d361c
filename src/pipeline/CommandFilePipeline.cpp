#include "CommandFilePipeline.h"

#include "RecoveryRecord.h"
#include "ResultFiles.h"
#include "common/AtomicFile.h"
#include "common/Cp1252.h"
#include "common/InterruptibleWait.h"
#include "common/TextLines.h"
#include "common/platform/FileIo.h"
#include "driver/ResultCodes.h"
#include "messages/MessageCatalogue.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>

namespace {

const QString kStopLine = QStringLiteral("STOP");

void removeIfExists(const QString& path)
{
    // Removed first and looked at only if that failed: most files have no old results.
    if (!removeFile(path) && fileStatus(path).type != FileStatus::Type::Missing)
        qWarning("Cannot remove old result file %s", qPrintable(path));
}

QString folderOf(const QString& path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
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

// What a kill left of the program's own atomic writes: only its own names, only plain files.
void removeLeftoverTemporaryFiles(const QString& folder)
{
    static const QRegularExpression ownTemporary(QStringLiteral("^\\.qds-[0-9a-z]+\\.tmp$"));
    for (const QString& name : folderEntries(folder).value_or(QStringList())) {
        const QString path = pathInFolder(folder, name);
        if (ownTemporary.match(name).hasMatch() &&
            fileStatus(path).type == FileStatus::Type::Regular && !removeFile(path))
            qWarning("Cannot remove the leftover temporary file %s", qPrintable(path));
    }
}

} // namespace

struct CommandFilePipeline::BusyScope
{
    explicit BusyScope(int& depth) : m_depth(depth) { ++m_depth; }
    ~BusyScope() { --m_depth; }
    int& m_depth;
};

CommandFilePipeline::CommandFilePipeline(const Settings& settings, RegisterDriver& driver,
                                         StatusModel& status, const Clock& clock,
                                         QString programName, Options options,
                                         InterruptibleWait* waits)
    : m_settings(settings), m_driver(driver), m_status(status), m_clock(clock),
      m_programName(std::move(programName)), m_options(options), m_scanner(options.settleMs),
      m_record(recoveryRecordPath()), m_waits(waits ? waits : &m_ownWaits)
{
    m_openFile = [](const QString& path) -> std::unique_ptr<QIODevice> {
        return openRegularFileForReading(path);
    };
}

QString CommandFilePipeline::recoveryRecordPath() const
{
    return m_settings.DirectoryInput + m_programName + QStringLiteral(".REC");
}

QString CommandFilePipeline::logFilePath() const
{
    return m_settings.DirectoryInput + m_programName + QStringLiteral(".LOG");
}

ActivityLog CommandFilePipeline::log() const
{
    return ActivityLog(logFilePath(), m_settings.logLimitBytes());
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
    BusyScope busy(m_busyDepth);
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
    persistLeftFiles();
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
        persistLeftFiles();
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
            RecordOutcome(row, line, result, QString());
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

bool CommandFilePipeline::copyToOutputFolder(const QString& path)
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

void CommandFilePipeline::logNotice(const QString& key, const QString& path)
{
    setFault(FolderFaults::Source::Log, !writeWithReserve([&] {
                 return log().append(resultTimestamp(m_clock.now()) + u';' + key + u'=' + path);
             }),
             logFilePath());
}

bool CommandFilePipeline::writeWithReserve(const std::function<bool()>& write)
{
    if (write())
        return true;
    // The disk filled since the file began: the room kept for its verdict is given back for it.
    m_record.releaseReserve();
    return write();
}

void CommandFilePipeline::setFault(FolderFaults::Source source, bool failed, const QString& file)
{
    if (source == FolderFaults::Source::ResultFile && m_sendingGiven) {
        if (failed)
            m_givenResultNotWritten = file;
        return;
    }
    if (failed)
        m_faults.set(source, FolderFaults::fileNotWritable(m_settings.languageOffset(), file),
                     folderOf(file));
    else
        m_faults.clear(source);
    showFaults();
}

void CommandFilePipeline::setDriverFault(const QString& why)
{
    if (why.isEmpty())
        m_faults.clear(FolderFaults::Source::Driver);
    else
        m_faults.set(FolderFaults::Source::Driver,
                     FolderFaults::driverNotWorking(m_settings.languageOffset(), why), QString());
    showFaults();
}

void CommandFilePipeline::reportFaults()
{
    // Standard error hears of each fault once when it comes (or changes) and of its folder
    // once when no fault concerns it any more; a driver reports its own faults.
    QMap<FolderFaults::Source, FolderFaults::Fault> now = m_faults.active();
    now.remove(FolderFaults::Source::Driver);
    QSet<QString> stillFaulty;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        stillFaulty.insert(it->folder);
        if (m_reportedFaults.value(it.key()) != *it)
            qWarning("Fault in the folder %s: %s", qPrintable(it->folder), qPrintable(it->text));
    }
    QSet<QString> mended;
    for (const FolderFaults::Fault& was : std::as_const(m_reportedFaults))
        if (!stillFaulty.contains(was.folder))
            mended.insert(was.folder);
    for (const QString& folder : std::as_const(mended))
        qWarning("The folder %s works again", qPrintable(folder));
    m_reportedFaults = now;
}

void CommandFilePipeline::showFaults()
{
    reportFaults();
    m_status.faultsChanged(m_faults.text(), m_faults.has(FolderFaults::Source::Driver));
}

bool CommandFilePipeline::checkInputFolder()
{
    const QString& folder = m_settings.DirectoryInput;
    const int language = m_settings.languageOffset();
    using Source = FolderFaults::Source;
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
    showFaults();
    if (takenOver)
        takeOverInputFolder();
    // A file that could not be deleted afterwards would be sent again after a restart.
    return !m_faults.has(Source::Folder) && !m_faults.has(Source::Owner) &&
           !m_faults.has(Source::RecordOpen);
}

void CommandFilePipeline::takeOverInputFolder()
{
    // No other instance works here now: what a killed one left is ours to deal with.
    removeLeftoverTemporaryFiles(m_settings.DirectoryInput);
    removeLeftoverTemporaryFiles(m_settings.DirectoryOutput);
    for (const LeftFile& left : m_record.leftFiles()) {
        if (commandFileSignature(left.path) == left.signature)
            m_scanner.passOver(left.path, left.signature);
    }
    recoverFromRecord();
}

void CommandFilePipeline::persistLeftFiles()
{
    if (!m_record.isOpen())
        return;
    QList<LeftFile> files;
    const auto& passedOver = m_scanner.passedOver();
    for (auto it = passedOver.cbegin(); it != passedOver.cend(); ++it)
        files.append(LeftFile{it.key(), it.value()});
    std::sort(files.begin(), files.end(),
              [](const LeftFile& a, const LeftFile& b) { return a.path < b.path; });
    if (files == m_record.leftFiles() && m_record.leftFilesSaved())
        return;
    setFault(FolderFaults::Source::RecordWrite,
             !writeWithReserve([&] { return m_record.setLeftFiles(files); }), m_record.path());
}

void CommandFilePipeline::ProcessCommandFile(const QString& path, bool deleteFile)
{
    if (deleteFile)
        sendPolledFile(path, commandFileSignature(path));
    else
        sendGivenFile(path);
}

QString CommandFilePipeline::startResults(const QString& path)
{
    QString base = resultBaseFor(path);
    // A document called "Cassa.OK" would be its own result: its results then take its whole
    // name ("Cassa.OK.OK"), so that it is never deleted or overwritten by them.
    if (base + QStringLiteral(".OK") == path || base + QStringLiteral(".KO") == path)
        base = path;
    removeIfExists(base + QStringLiteral(".OK"));
    removeIfExists(base + QStringLiteral(".KO"));
    m_resultBasePath = base;
    return base;
}

std::unique_ptr<QIODevice>
CommandFilePipeline::openCommandFile(const QString& path, const QString& base, bool& unreadable)
{
    auto device = m_openFile(path);
    unreadable = !device && fileStatus(path).type != FileStatus::Type::Missing;
    if (unreadable) {
        // A file we cannot read is not an empty file: it keeps its place, gets a verdict,
        // and waits until it changes.
        m_status.fileFailed(ResultCode::CannotSend);
        m_status.bringForward();
        m_scanner.passOver(path);
        RecordOutcome(0, QString(), ResultCode::CannotSend, base);
    }
    return device;
}

CommandFilePipeline::LinesSent CommandFilePipeline::sendLines(QIODevice& device,
                                                              RecoveryRecord* record)
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
        if (sent.result != 0)
            break;
        if (record)
            record->setAcceptedRow(sent.row);
    }
    return sent;
}

void CommandFilePipeline::sendGivenFile(const QString& path)
{
    BusyScope busy(m_busyDepth);
    m_givenResultNotWritten.reset();
    m_sendingGiven = true;
    const QString base = startResults(path);
    bool unreadable = false;
    auto device = openCommandFile(path, base, unreadable);
    // A missing start, stop or document file has no lines: nothing to send, a successful
    // outcome.
    const LinesSent sent = device ? sendLines(*device, nullptr) : LinesSent{};
    device.reset();
    if (!unreadable)
        finishFile(path, FileOrigin::Given, sent, base);
    m_sendingGiven = false;
    if (!m_givenResultNotWritten || unreadable)
        return;
    // It reached the register: that is what the user must know, beside the missing result.
    qWarning("%s was sent%s, but its result could not be written to %s", qPrintable(path),
             sent.result == 0 ? "" : qPrintable(QStringLiteral(" (error %1)").arg(sent.result)),
             qPrintable(*m_givenResultNotWritten));
    if (sent.result == 0) {
        const QString text = FolderFaults::givenFileResultNotWritable(
            m_settings.languageOffset(), path, *m_givenResultNotWritten);
        m_status.showNotice(text);
    }
}

bool CommandFilePipeline::sendPolledFile(const QString& path,
                                         const std::optional<FileSignature>& signature)
{
    BusyScope busy(m_busyDepth);
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
    showFaults();
    if (!room)
        return false;
    const QString base = startResults(path);
    bool unreadable = false;
    auto device = openCommandFile(path, base, unreadable);
    if (!device) {
        persistLeftFiles();
        return true;
    }
    // Polled files are the ones that could be sent again automatically after a crash.
    m_record.setPath(recoveryRecordPath());
    RecoveryState state;
    state.file = path;
    state.size = signature->size;
    state.modifiedMs = signature->modified.toMSecsSinceEpoch();
    state.lastReceipt = m_lastReceipt;
    state.time = journalTimestamp(m_clock.now());
    const bool recorded = m_record.begin(state);
    setFault(FolderFaults::Source::RecordWrite, !recorded, m_record.path());
    // Without the record a crash could send it twice: it waits for a later tick.
    if (!recorded)
        return false;
    const LinesSent sent = sendLines(*device, &m_record);
    device.reset();
    finishFile(path, FileOrigin::Polled, sent, base);
    makeDurable(path);
    // A file left in the folder is known to be sent before the record says nothing is.
    persistLeftFiles();
    m_record.finish();
    return true;
}

qint64 CommandFilePipeline::verdictReserveBytes() const
{
    // The .KO (made as a temporary file) and its log line, each at most one line of the file
    // and its message; the .OK's last line, and the list of files left behind, are small.
    return 2 * m_options.maxLineBytes + 32 * 1024;
}

void CommandFilePipeline::finishFile(const QString& path, FileOrigin origin, const LinesSent& sent,
                                     const QString& base)
{
    const bool polled = origin == FileOrigin::Polled;
    const auto& [result, row, line] = sent;
    if (result != 0) {
        // The .KO comes before the file leaves: a crash in between must not leave a file gone
        // with only the .OK of its dumps, which reads like success.
        const bool verdict = recordFailure(row, line, result, base, false, true);
        failKeepingACopy(path, result, polled, verdict);
        recordFailure(row, line, result, base, true, false);
        return;
    }
    const bool verdict = WriteDumpLine(QueryAnswerTail());
    // A power cut must not leave the file gone and its verdict empty.
    if (polled && !flushExistingFile(base + QStringLiteral(".OK")))
        qWarning("Cannot flush %s", qPrintable(base + QStringLiteral(".OK")));
    if (polled && verdict)
        deleteOrPassOver(path);
    else if (polled)
        keepWithoutVerdict(path);
    RecordOutcome(row, line, result, base);
}

void CommandFilePipeline::keepWithoutVerdict(const QString& path)
{
    // Sent, but its verdict could not be written: the file stays as the only trace, and is
    // never sent again by itself.
    m_scanner.passOver(path);
    logNotice(QStringLiteral("NoVerdict"), path);
}

void CommandFilePipeline::makeDurable(const QString& path)
{
    if (!flushFolder(folderOf(path)))
        qWarning("Cannot flush the folder of %s", qPrintable(path));
}

void CommandFilePipeline::deleteOrPassOver(const QString& path)
{
    // A read-only file is not forced; it is not sent again until it changes.
    if (!fileStatus(path).ownerWritable || !removeFile(path)) {
        m_scanner.passOver(path);
        logNotice(QStringLiteral("NotDeleted"), path);
    }
}

void CommandFilePipeline::failKeepingACopy(const QString& path, qint32 code, bool polled,
                                           bool verdictWritten)
{
    // A failed file may have left the register's number anywhere: until a file succeeds, a
    // crash cannot tell whether the file being sent reached it.
    m_lastReceipt.reset();
    m_status.fileFailed(code);
    const bool copied = copyToOutputFolder(path);
    setFault(FolderFaults::Source::Copy, !copied, m_settings.DirectoryOutput + fileNameOf(path));
    m_status.bringForward();
    if (!polled)
        return;
    if (!verdictWritten) {
        keepWithoutVerdict(path);
    } else if (copied) {
        deleteOrPassOver(path);
    } else {
        // The file is its only copy: it stays, and is not sent again until it changes.
        m_scanner.passOver(path);
        logNotice(QStringLiteral("NotCopied"), path);
    }
}

void CommandFilePipeline::recoverInterruptedFile()
{
    BusyScope busy(m_busyDepth);
    // Taking the folder deals with its record; a folder another instance holds is dealt with
    // when it is taken over.
    checkInputFolder();
}

void CommandFilePipeline::recoverFromRecord()
{
    BusyScope busy(m_busyDepth);
    const auto state = RecoveryRecord::read(recoveryRecordPath());
    if (!state)
        return;
    logNotice(QStringLiteral("Interrupted"), state->file);
    const auto signature = commandFileSignature(state->file);
    if (!state->file.isEmpty() && signature && signature->size == state->size &&
        signature->modified.toMSecsSinceEpoch() == state->modifiedMs) {
        const QString base = resultBaseFor(state->file);
        m_resultBasePath = base;
        const auto status = queryStatus();
        const QString answer = status ? status->answer : QString();
        // Counters wrap at 10,000. A step the file cannot have made (none, backwards, or more
        // receipts than it has lines) proves nothing: a person decides.
        bool reached = false;
        const auto after =
            status && status->result == 0 ? readableReceiptNumber(answer) : std::nullopt;
        if (after && state->lastReceipt) {
            const int step = ((*after - *state->lastReceipt) % 10000 + 10000) % 10000;
            reached = step >= 1 && step <= std::min(countLines(state->file), kMaxReceiptsPerFile);
        }
        if (reached) {
            const bool verdict = WriteDumpLine(answer.right(4));
            flushExistingFile(base + QStringLiteral(".OK"));
            if (verdict)
                deleteOrPassOver(state->file);
            else
                keepWithoutVerdict(state->file);
            RecordOutcome(state->acceptedRow, QString(), 0, base);
        } else {
            const qint32 row = state->acceptedRow + 1;
            const QString line = lineAt(state->file, row);
            // A kill while the .OK was being made leaves it empty: beside a .KO it would read
            // as success.
            const QString ok = base + QStringLiteral(".OK");
            if (const auto s = fileStatus(ok); s.type == FileStatus::Type::Regular && s.size == 0)
                removeFile(ok);
            const bool verdict =
                recordFailure(row, line, ResultCode::CannotSend, base, false, true);
            failKeepingACopy(state->file, ResultCode::CannotSend, true, verdict);
            recordFailure(row, line, ResultCode::CannotSend, base, true, false);
        }
        makeDurable(state->file);
    }
    persistLeftFiles();
    m_record.finish();
}

int CommandFilePipeline::countLines(const QString& path) const
{
    const auto file = openRegularFileForReading(path);
    if (!file)
        return 0;
    TextLineReader reader(*file, m_options.maxLineBytes);
    QString line;
    int rows = 0;
    for (;;) {
        const auto status = reader.readLine(line);
        if (status == TextLineReader::Status::End || status == TextLineReader::Status::Error)
            return rows;
        ++rows;
    }
}

QString CommandFilePipeline::lineAt(const QString& path, qint32 row) const
{
    const auto file = openRegularFileForReading(path);
    if (!file)
        return QString();
    TextLineReader reader(*file, m_options.maxLineBytes);
    QString line;
    for (qint32 r = 1; r <= row; ++r) {
        const auto status = reader.readLine(line);
        if (status == TextLineReader::Status::End || status == TextLineReader::Status::Error)
            return QString();
    }
    return line;
}

QString CommandFilePipeline::QueryAnswerTail()
{
    const auto status = queryStatus();
    return status ? status->answer.right(4) : QString();
}

bool CommandFilePipeline::WriteDumpLine(const QString& text)
{
    // Only blanks make an empty text: tabs and line breaks are the register's text.
    if (QString(text).remove(u' ').isEmpty() || m_resultBasePath.isEmpty())
        return true;
    const QString ok = m_resultBasePath + QStringLiteral(".OK");
    const QByteArray bytes = textLine(dumpLine(m_clock.now(), text));
    // The first line makes the file in one step: a kill never leaves an empty .OK, which
    // would read as success.
    const bool written = writeWithReserve([&] {
        return fileStatus(ok).type == FileStatus::Type::Missing ? replaceOwnFile(ok, bytes)
                                                                : appendToFile(ok, bytes);
    });
    setFault(FolderFaults::Source::ResultFile, !written, ok);
    return written;
}

bool CommandFilePipeline::recordFailure(qint32 row, const QString& line, qint32 code,
                                        const QString& base, bool toLog, bool toFile)
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
        setFault(FolderFaults::Source::ResultFile, !written, ko);
    }
    if (toLog) {
        const ActivityLog activity = log();
        const QString entry = resultTimestamp(m_clock.now()) + u';' +
                              failureRecord(code, message, row, line, extended());
        setFault(FolderFaults::Source::Log,
                 !writeWithReserve([&] { return activity.append(entry); }), activity.path());
    }
    return written;
}

void CommandFilePipeline::RecordOutcome(qint32 row, const QString& line, qint32 code,
                                        const QString& base)
{
    const QDateTime now = m_clock.now();
    const ActivityLog activity = log();
    if (code != 0) {
        recordFailure(row, line, code, base, true, true);
        return;
    }

    int ticket = 0;
    m_lastReceipt.reset();
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
    setFault(FolderFaults::Source::Log, !logged, activity.path());
}

std::optional<CommandFilePipeline::StatusAnswer> CommandFilePipeline::queryStatus()
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
