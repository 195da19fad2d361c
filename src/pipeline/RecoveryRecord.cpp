#include "RecoveryRecord.h"

#include "common/Cp1252.h"
#include "common/TextLines.h"
#include "common/platform/FileIo.h"

namespace {

// "Busy=1" while a file is being sent, 2 or 3 once its verdict (sent, failed) is on the disk;
// only the digit ever changes.
const QByteArray kBusy = "Busy=1\r\n";
const QByteArray kIdle = "Busy=0\r\n";
constexpr qint64 kBusyDigitOffset = 5;
const QString kRowKey = QStringLiteral("Row=");
constexpr int kRowDigits = 10;
const QString kLeftKey = QStringLiteral("Left=");

QString rowField(qint32 row)
{
    return QStringLiteral("%1").arg(row, kRowDigits, 10, QLatin1Char('0'));
}

// Left=<size>;<modified ms>;<inode>;<the name's bytes in hex>;<SHA-256 of the content>
QByteArray leftLine(const LeftFile& left)
{
    return QByteArray::number(left.signature.size) + ';' +
           QByteArray::number(left.signature.modified.toMSecsSinceEpoch()) + ';' +
           QByteArray::number(left.signature.inode) + ';' + encodeFileName(left.path).toHex() +
           ';' + left.digest;
}

std::optional<LeftFile> parseLeft(const QString& value)
{
    const QStringList parts = value.split(u';');
    if (parts.size() != 4 && parts.size() != 5)
        return std::nullopt;
    bool sizeOk = false, timeOk = false, inodeOk = false;
    LeftFile left;
    left.signature.size = parts[0].toLongLong(&sizeOk);
    left.signature.modified = QDateTime::fromMSecsSinceEpoch(parts[1].toLongLong(&timeOk), Qt::UTC);
    left.signature.inode = parts[2].toULongLong(&inodeOk);
    left.path = decodeFileName(QByteArray::fromHex(parts[3].toLatin1()));
    if (parts.size() == 5)
        left.digest = parts[4].toLatin1();
    if (!sizeOk || !timeOk || !inodeOk || left.path.isEmpty())
        return std::nullopt;
    return left;
}

// The record's lines: up to the first NUL (a torn write) or the end.
QStringList recordLines(const QString& path)
{
    const auto file = openRegularFileForReading(path);
    if (!file)
        return {};
    QByteArray bytes = file->readAll();
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0)
        bytes.truncate(nul);
    return splitTextLines(bytes);
}

} // namespace

void RecoveryRecord::setPath(const QString& path)
{
    if (path == m_path)
        return;
    close();
    m_path = path;
}

RecoveryRecord::Opened RecoveryRecord::open()
{
    // The input folder may have been deleted and made again, or the record replaced: the
    // record must be the one a restart will read, and the lock the one others look at.
    if (m_file && !isStillAt(*m_file, m_path))
        close();
    if (m_file)
        return Opened::Yes;
    auto file = openOwnFile(m_path, OwnFileMode::ReadWrite);
    if (!file)
        return Opened::No;
    switch (tryLockExclusively(*file)) {
    case LockResult::Locked:
        break;
    case LockResult::HeldElsewhere:
        return Opened::HeldElsewhere;
    case LockResult::Failed:
        return Opened::No;
    }
    m_file = std::move(file);
    m_left = readLeftFiles(m_path);
    m_leftSaved = true;
    m_head.clear();
    return Opened::Newly;
}

void RecoveryRecord::close()
{
    m_file.reset();
    m_left.clear();
    m_active = false;
}

bool RecoveryRecord::reserve(qint64 bytes)
{
    // Called right after the folder was checked (and the record opened): no second look.
    return m_file && reserveSpace(*m_file, bytes);
}

void RecoveryRecord::releaseReserve()
{
    if (m_file)
        releaseReservedSpace(*m_file);
}

bool RecoveryRecord::writeContent()
{
    // Whole again with what was written in place since (the verdict's digit, the rows): a
    // rewrite for the files left must not take a file back to before its verdict.
    QByteArray bytes =
        (m_active ? kBusy.left(kBusyDigitOffset) + m_busyDigit + "\r\n" : kIdle) + m_head;
    if (!m_head.isEmpty()) {
        bytes += textLine(kRowKey + rowField(m_acceptedRow));
        m_rowOffset = bytes.size() - (kRowDigits + 2);
    }
    for (const LeftFile& left : m_left)
        bytes += kLeftKey.toLatin1() + leftLine(left) + "\r\n";
    // Blanks over the rest of a longer earlier record: the file rarely shrinks, so rewriting
    // it rarely allocates or frees space.
    const qint64 size = m_file->size();
    if (bytes.size() < size)
        bytes.append(size - bytes.size(), ' ');
    return m_file->seek(0) && m_file->write(bytes) == bytes.size() && flushToDisk(*m_file);
}

bool RecoveryRecord::begin(const RecoveryState& state)
{
    const Opened opened = open();
    if (opened != Opened::Yes && opened != Opened::Newly)
        return false;
    // File= is for people; Path= gives the name's bytes, whatever its encoding.
    const QString head =
        QStringLiteral("File=") + state.file + QStringLiteral("\r\nPath=") +
        QString::fromLatin1(encodeFileName(state.file).toHex()) + QStringLiteral("\r\nSize=") +
        QString::number(state.size) + QStringLiteral("\r\nModified=") +
        QString::number(state.modifiedMs) + QStringLiteral("\r\nLastReceipt=") +
        (state.lastReceipt ? QString::number(*state.lastReceipt) : QString()) +
        QStringLiteral("\r\nTime=") + state.time + QStringLiteral("\r\nRegister=") +
        QString::fromLatin1(state.registerName.toUtf8().toHex()) + QStringLiteral("\r\n");
    m_head = encodeCp1252(head);
    m_acceptedRow = state.acceptedRow;
    m_busyDigit = '1';
    m_active = true;
    m_leftSaved = writeContent();
    if (!m_leftSaved) {
        // A half-written record must not pass for a file being sent.
        finish();
        close();
        return false;
    }
    return true;
}

void RecoveryRecord::setAcceptedRow(qint32 row)
{
    // Same width in place: cheap enough for every line, and it outlives a crash of the process.
    if (!m_active)
        return;
    m_acceptedRow = row;
    writeAt(*m_file, m_rowOffset, rowField(row).toLatin1());
}

void RecoveryRecord::verdictWritten(bool sent)
{
    // Not flushed, like the rows: a crash of the process keeps it; after a power cut the
    // receipt number and the rows decide as before.
    if (!m_active)
        return;
    m_busyDigit = sent ? '2' : '3';
    writeAt(*m_file, kBusyDigitOffset, QByteArray(1, m_busyDigit));
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

bool RecoveryRecord::setLeftFiles(const QList<LeftFile>& files)
{
    if (files == m_left && m_leftSaved)
        return true;
    m_left = files;
    m_leftSaved = m_file && writeContent();
    return m_leftSaved;
}

std::optional<RecoveryState> RecoveryRecord::read(const QString& path)
{
    RecoveryState state;
    bool hasFile = false;
    bool sawKey = false;
    std::optional<QString> exactPath;
    for (const QString& line : recordLines(path)) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QString key = line.left(eq);
        sawKey = true;
        const QString value = line.mid(eq + 1);
        if (key == QLatin1String("Busy")) {
            if (value == QLatin1String("0"))
                return std::nullopt;
            if (value == QLatin1String("2"))
                state.verdict = RecoveryState::Verdict::Sent;
            else if (value == QLatin1String("3"))
                state.verdict = RecoveryState::Verdict::Failed;
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
        } else if (key == QLatin1String("Register")) {
            state.registerName = QString::fromUtf8(QByteArray::fromHex(value.toLatin1()));
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

QList<LeftFile> RecoveryRecord::readLeftFiles(const QString& path)
{
    QList<LeftFile> files;
    for (const QString& line : recordLines(path)) {
        if (line.startsWith(kLeftKey)) {
            if (const auto left = parseLeft(line.mid(kLeftKey.size())))
                files.append(*left);
        }
    }
    return files;
}
