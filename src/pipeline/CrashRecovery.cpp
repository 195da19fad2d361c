#include "CrashRecovery.h"

#include "ResultFiles.h"
#include "common/TextLines.h"
#include "common/platform/FileIo.h"
#include "driver/ResultCodes.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

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

CrashRecovery::CrashRecovery(const Settings& settings, RecoveryRecord& record,
                             InputFolderScanner& scanner, VerdictWriter& verdicts,
                             PipelineFaults& faults, qsizetype maxLineBytes)
    : m_settings(settings), m_record(record), m_scanner(scanner), m_verdicts(verdicts),
      m_faults(faults), m_maxLineBytes(maxLineBytes)
{
}

void CrashRecovery::takeOver()
{
    // No other instance works here now: what a killed one left is ours to deal with.
    removeLeftoverTemporaryFiles(m_settings.DirectoryInput);
    removeLeftoverTemporaryFiles(m_settings.DirectoryOutput);
    for (const LeftFile& left : m_record.leftFiles()) {
        if (commandFileSignature(left.path) == left.signature &&
            (left.digest.isEmpty() || InputFolderScanner::contentDigest(left.path) == left.digest))
            m_scanner.passOver(left.path, left.signature, left.digest);
    }
    recoverInterruptedFile();
}

void CrashRecovery::persistLeftFiles()
{
    if (!m_record.isOpen())
        return;
    QList<LeftFile> files;
    const auto& passedOver = m_scanner.passedOver();
    for (auto it = passedOver.cbegin(); it != passedOver.cend(); ++it)
        files.append(LeftFile{it.key(), it.value(), m_scanner.passedOverDigest(it.key())});
    std::sort(files.begin(), files.end(),
              [](const LeftFile& a, const LeftFile& b) { return a.path < b.path; });
    if (files == m_record.leftFiles() && m_record.leftFilesSaved())
        return;
    m_faults.fileWritten(FolderFaults::Source::RecordWrite,
                         !m_verdicts.writeWithReserve([&] { return m_record.setLeftFiles(files); }),
                         m_record.path());
}

void CrashRecovery::recoverInterruptedFile()
{
    const auto state = RecoveryRecord::read(m_record.path());
    if (!state)
        return;
    m_verdicts.logNotice(QStringLiteral("Interrupted"), state->file);
    const auto signature = commandFileSignature(state->file);
    if (!state->file.isEmpty() && signature && signature->size == state->size &&
        signature->modified.toMSecsSinceEpoch() == state->modifiedMs) {
        const QString base = resultBaseFor(state->file);
        const int lines = countLines(state->file);
        // Another register's number, or its rows, say nothing of this file.
        const bool ourRegister = state->registerName.isEmpty() || m_registerName.isEmpty() ||
                                 state->registerName == m_registerName;
        // Every line accepted by the other register, and the .OK already there: that .OK is the
        // verdict (only this register's answer could be added to it).
        const FileStatus ok = fileStatus(base + QStringLiteral(".OK"));
        const bool sentWithItsOk = !ourRegister && state->acceptedRow >= lines &&
                                   ok.type == FileStatus::Type::Regular && ok.size > 0;
        if (verdictOnDisk(*state, base) || sentWithItsOk) {
            // A verdict on the disk is final: never a second one for the same file.
            m_verdicts.finishWritten(
                state->file, sentWithItsOk || state->verdict == RecoveryState::Verdict::Sent, base);
            m_verdicts.makeDurable(state->file);
            persistLeftFiles();
            m_record.finish();
            return;
        }
        m_verdicts.setResultBase(base);
        const auto status = ourRegister ? m_verdicts.queryStatus() : std::nullopt;
        const QString answer = status ? status->answer : QString();
        // Every line accepted is a file sent. Otherwise the receipt number decides: counters
        // wrap at 10,000, and a step the file cannot have made (none, backwards, or more
        // receipts than it has lines) proves nothing: a person decides.
        const bool answered = status && status->result == 0 && !answer.right(4).trimmed().isEmpty();
        bool reached = answered && state->acceptedRow >= lines;
        const auto after = answered ? readableReceiptNumber(answer) : std::nullopt;
        if (!reached && after && state->lastReceipt) {
            const int step = ((*after - *state->lastReceipt) % 10000 + 10000) % 10000;
            reached = step >= 1 && step <= std::min(lines, kMaxReceiptsPerFile);
        }
        if (!ourRegister)
            qWarning("%s was being sent to another register (%s): a person decides",
                     qPrintable(state->file), qPrintable(state->registerName));
        if (reached) {
            m_verdicts.finishReached(state->file, answer, state->acceptedRow, base);
        } else {
            // A kill while the .OK was being made leaves it empty: beside a .KO it would read
            // as success.
            const QString ok = base + QStringLiteral(".OK");
            if (const auto s = fileStatus(ok); s.type == FileStatus::Type::Regular && s.size == 0)
                removeFile(ok);
            const qint32 row = state->acceptedRow + 1;
            m_verdicts.finish(state->file, true,
                              LinesSent{ResultCode::CannotSend, row, lineAt(state->file, row)},
                              base);
        }
        m_verdicts.makeDurable(state->file);
    }
    persistLeftFiles();
    m_record.finish();
}

bool CrashRecovery::verdictOnDisk(const RecoveryState& state, const QString& base)
{
    using Verdict = RecoveryState::Verdict;
    if (state.verdict == Verdict::None)
        return false;
    const FileStatus s = fileStatus(
        base + (state.verdict == Verdict::Sent ? QStringLiteral(".OK") : QStringLiteral(".KO")));
    return s.type == FileStatus::Type::Regular && s.size > 0;
}

int CrashRecovery::countLines(const QString& path) const
{
    const auto file = openRegularFileForReading(path);
    if (!file)
        return 0;
    TextLineReader reader(*file, m_maxLineBytes);
    QString line;
    int rows = 0;
    for (;;) {
        const auto status = reader.readLine(line);
        if (status == TextLineReader::Status::End || status == TextLineReader::Status::Error)
            return rows;
        ++rows;
    }
}

QString CrashRecovery::lineAt(const QString& path, qint32 row) const
{
    const auto file = openRegularFileForReading(path);
    if (!file)
        return QString();
    TextLineReader reader(*file, m_maxLineBytes);
    QString line;
    for (qint32 r = 1; r <= row; ++r) {
        const auto status = reader.readLine(line);
        if (status == TextLineReader::Status::End || status == TextLineReader::Status::Error)
            return QString();
    }
    return line;
}
