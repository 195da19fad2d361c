#include "RecoveryRecord.h"

#include "common/Cp1252.h"
#include "common/TextLines.h"
#include "common/platform/FileIo.h"

namespace {

// "Busy=1" while a file is being sent; only its digit ever changes.
const QByteArray kBusy = "Busy=1\r\n";
constexpr qint64 kBusyDigitOffset = 5;
const QString kRowKey = QStringLiteral("Row=");
constexpr int kRowDigits = 10;

QString rowField(qint32 row)
{
    return QStringLiteral("%1").arg(row, kRowDigits, 10, QLatin1Char('0'));
}

} // namespace

void RecoveryRecord::setPath(const QString& path)
{
    if (path == m_path)
        return;
    close();
    m_path = path;
}

bool RecoveryRecord::open()
{
    // The input folder may have been deleted and made again, or the record replaced: the
    // record must be the one a restart will read.
    if (m_file && !isStillAt(*m_file, m_path))
        close();
    if (!m_file)
        m_file = openOwnFile(m_path, OwnFileMode::ReadWrite);
    return m_file != nullptr;
}

void RecoveryRecord::close()
{
    m_file.reset();
    m_active = false;
}

bool RecoveryRecord::begin(const RecoveryState& state)
{
    if (!open())
        return false;
    // File= is for people; Path= gives the name's bytes, whatever its encoding.
    const QString head = QStringLiteral("File=") + state.file + QStringLiteral("\r\nPath=") +
                         QString::fromLatin1(encodeFileName(state.file).toHex()) +
                         QStringLiteral("\r\nSize=") + QString::number(state.size) +
                         QStringLiteral("\r\nModified=") + QString::number(state.modifiedMs) +
                         QStringLiteral("\r\nLastReceipt=") +
                         (state.lastReceipt ? QString::number(*state.lastReceipt) : QString()) +
                         QStringLiteral("\r\nTime=") + state.time + QStringLiteral("\r\n");
    const QByteArray headBytes = kBusy + encodeCp1252(head);
    QByteArray bytes = headBytes + textLine(kRowKey + rowField(state.acceptedRow));
    // Blanks over the rest of a longer earlier record: the file never shrinks, so rewriting
    // it never allocates or frees space.
    const qint64 size = m_file->size();
    if (bytes.size() < size)
        bytes.append(size - bytes.size(), ' ');
    if (!m_file->seek(0) || m_file->write(bytes) != bytes.size() || !flushToDisk(*m_file)) {
        // A half-written record must not pass for a file being sent.
        finish();
        close();
        return false;
    }
    m_rowOffset = headBytes.size() + kRowKey.size();
    m_active = true;
    return true;
}

void RecoveryRecord::setAcceptedRow(qint32 row)
{
    // Same width in place: cheap enough for every line, and it outlives a crash of the process.
    if (m_active)
        writeAt(*m_file, m_rowOffset, rowField(row).toLatin1());
}

void RecoveryRecord::finish()
{
    if (!m_file)
        return;
    // Not flushed: should a power cut undo it, the start-up check finds the file already
    // gone or the register's receipt number moved on, and records nothing twice.
    writeAt(*m_file, kBusyDigitOffset, "0");
    m_active = false;
}

std::optional<RecoveryState> RecoveryRecord::read(const QString& path)
{
    const auto file = openRegularFileForReading(path);
    if (!file)
        return std::nullopt;
    RecoveryState state;
    bool hasFile = false;
    bool sawKey = false;
    std::optional<QString> exactPath;
    for (const QString& line : splitTextLines(file->read(64 * 1024))) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QString key = line.left(eq);
        sawKey = true;
        const QString value = line.mid(eq + 1);
        if (key == QLatin1String("Busy")) {
            if (value == QLatin1String("0"))
                return std::nullopt;
        } else if (key == QLatin1String("File")) {
            state.file = value;
            hasFile = !value.isEmpty();
        } else if (key == QLatin1String("Path")) {
            exactPath = decodeFileName(QByteArray::fromHex(value.toLatin1()));
        } else if (key == QLatin1String("Size")) {
            state.size = value.toLongLong();
        } else if (key == QLatin1String("Modified")) {
            state.modifiedMs = value.toLongLong();
        } else if (key == QLatin1String("LastReceipt")) {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (ok)
                state.lastReceipt = n;
        } else if (key == QLatin1String("Time")) {
            state.time = value;
        } else if (key == QLatin1String("Row")) {
            state.acceptedRow = value.toInt();
        }
    }
    if (exactPath && !exactPath->isEmpty()) {
        state.file = *exactPath;
        hasFile = true;
    }
    // A record made but never written (opened before the first file) holds nothing.
    if (!sawKey)
        return std::nullopt;
    if (!hasFile)
        return RecoveryState{};
    return state;
}
