#include "RecoveryRecord.h"

#include "AtomicFile.h"
#include "Cp1252.h"
#include "TextLines.h"

namespace {

const QString kRowKey = QStringLiteral("Row=");
constexpr int kRowDigits = 10;

QString rowField(qint32 row)
{
    return QStringLiteral("%1").arg(row, kRowDigits, 10, QLatin1Char('0'));
}

} // namespace

RecoveryRecord::~RecoveryRecord()
{
    m_file.reset();
}

bool RecoveryRecord::begin(const RecoveryState& state)
{
    const QString head = QStringLiteral("File=") + state.file + QStringLiteral("\r\nSize=") +
                         QString::number(state.size) + QStringLiteral("\r\nModified=") +
                         QString::number(state.modifiedMs) + QStringLiteral("\r\nLastReceipt=") +
                         (state.lastReceipt ? QString::number(*state.lastReceipt) : QString()) +
                         QStringLiteral("\r\nTime=") + state.time + QStringLiteral("\r\n");
    const QByteArray headBytes = encodeCp1252(head);
    // Written whole and flushed to disk before anything is sent.
    if (!writeFileAtomically(m_path, headBytes + textLine(kRowKey + rowField(state.acceptedRow))))
        return false;
    m_rowOffset = headBytes.size() + kRowKey.size();
    m_file = std::make_unique<QFile>(m_path);
    if (!m_file->open(QIODevice::ReadWrite)) {
        m_file.reset();
        QFile::remove(m_path);
        return false;
    }
    return true;
}

void RecoveryRecord::setAcceptedRow(qint32 row)
{
    // Same width in place: cheap enough for every line, and it outlives a crash of the process.
    if (!m_file || !m_file->seek(m_rowOffset))
        return;
    m_file->write(rowField(row).toLatin1());
    m_file->flush();
}

void RecoveryRecord::finish()
{
    if (!m_file)
        return;
    m_file.reset();
    QFile::remove(m_path);
}

std::optional<RecoveryState> RecoveryRecord::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    RecoveryState state;
    bool hasFile = false;
    for (const QString& line : splitTextLines(file.read(64 * 1024))) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QString key = line.left(eq);
        const QString value = line.mid(eq + 1);
        if (key == QLatin1String("File")) {
            state.file = value;
            hasFile = !value.isEmpty();
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
    if (!hasFile)
        return RecoveryState{};
    return state;
}
