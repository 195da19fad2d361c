#include "SimulatedRegister.h"

#include "common/AtomicFile.h"
#include "common/Cp1252.h"
#include "common/InterruptibleWait.h"
#include "common/TextLines.h"
#include "common/platform/FileIo.h"
#include "driver/RegisterStates.h"
#include "driver/ResultCodes.h"
#include "settings/PrivateProfileFile.h"
#include "settings/Settings.h"

#include <QFile>
#include <algorithm>

SimulatedRegister::SimulatedRegister(QString programFolder, const Clock& clock,
                                     InterruptibleWait* waits, QObject* parent)
    : RegisterDriver(parent), m_programFolder(std::move(programFolder)), m_clock(clock),
      m_waits(waits ? waits : &m_ownWaits)
{
}

void SimulatedRegister::setPreOpenFlag(bool) {}

void SimulatedRegister::loadConfiguration()
{
    const PrivateProfileFile ini(pathInFolder(m_programFolder, kConfigFileName));
    const QString reg = QStringLiteral("Register");

    m_ports.clear();
    const QString ports =
        ini.readString(reg, QStringLiteral("Ports"), QStringLiteral("1,2,3,4"), 4096);
    for (const QString& p : ports.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const qint64 n = p.trimmed().toLongLong(&ok);
        if (ok)
            m_ports.append(n);
    }

    bool ok = false;
    const int delay =
        ini.readString(reg, QStringLiteral("LineDelay"), QStringLiteral("0")).toInt(&ok);
    m_lineDelayMs = ok && delay > 0 ? delay : 0;

    const QString journalName =
        ini.readString(reg, QStringLiteral("Journal"), QStringLiteral("Simulatore.log"));
    m_journalPath = journalName.isEmpty() ? QString() : pathInFolder(m_programFolder, journalName);

    // The receipt counter carries on across re-openings and restarts unless the file sets a
    // new start.
    loadMemory();
    const QString next = ini.readString(reg, QStringLiteral("NextReceipt"), QStringLiteral("1"));
    if (next != m_appliedNextReceipt) {
        m_appliedNextReceipt = next;
        const qint64 n = next.toLongLong(&ok);
        m_nextReceipt = ok && n >= 0 ? n : 1;
        m_lastReceipt = std::max<qint64>(0, m_nextReceipt - 1);
        saveMemory();
    }

    m_rules.clear();
    const QString rulesSection = QStringLiteral("Rules");
    for (const QString& key : ini.keys(rulesSection)) {
        if (!simulatorRuleNumber(key))
            continue;
        auto rule = parseSimulatorRule(key, ini.readString(rulesSection, key, {}, 1 << 20));
        if (rule)
            m_rules.push_back(std::move(*rule));
        else
            journal(QStringLiteral("RuleError=") + key);
    }
    std::stable_sort(m_rules.begin(), m_rules.end(),
                     [](const SimRule& a, const SimRule& b) { return a.number < b.number; });
}

void SimulatedRegister::loadMemory()
{
    if (m_memoryLoaded)
        return;
    m_memoryLoaded = true;
    const auto file = openRegularFileForReading(pathInFolder(m_programFolder, kMemoryFileName));
    if (!file)
        return;
    bool haveLast = false, haveNext = false;
    qint64 last = 0, next = 0;
    QString applied;
    for (const QString& line : splitTextLines(file->read(64 * 1024))) {
        const qsizetype eq = line.indexOf(u'=');
        const QString key = line.left(eq);
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("LastReceipt"))
            last = value.toLongLong(&haveLast);
        else if (key == QLatin1String("NextReceipt"))
            next = value.toLongLong(&haveNext);
        else if (key == QLatin1String("Applied"))
            applied = value;
    }
    if (haveLast && haveNext) {
        m_lastReceipt = last;
        m_nextReceipt = next;
        m_appliedNextReceipt = applied;
    }
}

void SimulatedRegister::saveMemory()
{
    const QString path = pathInFolder(m_programFolder, kMemoryFileName);
    if (!m_memory || !isStillAt(*m_memory, path))
        m_memory = openOwnFile(path, OwnFileMode::ReadWrite);
    const auto report = [&](bool saved) {
        // Shown once when it stops working and once when it works again.
        if (saved == m_memorySaved)
            return;
        m_memorySaved = saved;
        if (!saved)
            qWarning("Simulated register: cannot keep its memory in %s", qPrintable(path));
        emit faultChanged(saved ? QString()
                                : QStringLiteral("cannot keep its memory in %1").arg(path));
    };
    if (!m_memory)
        return report(false);
    QByteArray bytes =
        encodeCp1252(QStringLiteral("LastReceipt=%1\r\nNextReceipt=%2\r\nApplied=%3\r\n")
                         .arg(m_lastReceipt)
                         .arg(m_nextReceipt)
                         .arg(m_appliedNextReceipt));
    // One write in place over a file that never shrinks: a crash finds the old or the new.
    if (bytes.size() < m_memory->size())
        bytes.append(m_memory->size() - bytes.size(), ' ');
    report(writeAt(*m_memory, 0, bytes));
}

void SimulatedRegister::journal(const QString& entry) const
{
    if (m_journalPath.isEmpty())
        return;
    appendToFile(m_journalPath,
                 encodeCp1252(journalTimestamp(m_clock.now()) + u';' + entry) + "\r\n");
}

void SimulatedRegister::raiseStatus(qint32 status)
{
    switch (status) {
    case RegisterState::CoverOpen:
        m_coverOpen = true;
        break;
    case RegisterState::CoverClosed:
        m_coverOpen = false;
        break;
    case RegisterState::PaperOut:
        m_paperOut = true;
        break;
    case RegisterState::PaperBack:
        m_paperOut = false;
        break;
    case RegisterState::Busy:
        m_busy = true;
        break;
    case RegisterState::Idle:
        m_busy = false;
        break;
    default:
        break;
    }
    journal(QStringLiteral("Status=%1").arg(status));
    emit StatusUpdate(status);
}

qint32 SimulatedRegister::OpenPort(QString& port)
{
    loadConfiguration();
    bool ok = false;
    const qint64 n = port.toLongLong(&ok);
    const qint32 result = ok && m_ports.contains(n) ? 0 : ResultCode::SerialPortError;
    m_open = result == 0;
    journal(QStringLiteral("OpenPort=%1;%2").arg(port, QString::number(result)));
    return result;
}

qint32 SimulatedRegister::ClosePort()
{
    m_open = false;
    journal(QStringLiteral("ClosePort"));
    return 0;
}

qint32 SimulatedRegister::applyRule(const SimRule& rule, const QRegularExpressionMatch& match,
                                    qint32 row, const QString& line)
{
    qint32 result = 0;
    for (const SimAction& action : rule.actions) {
        switch (action.kind) {
        case SimAction::Kind::Result:
            result = static_cast<qint32>(action.value);
            break;
        case SimAction::Kind::Extended:
            m_extended = static_cast<qint32>(action.value);
            break;
        case SimAction::Kind::Status:
            raiseStatus(static_cast<qint32>(action.value));
            break;
        case SimAction::Kind::Delay:
            // A wait cut short by a shut-down is a register that did not answer in time.
            if (!m_waits->serveEventsFor(static_cast<int>(action.value)))
                return ResultCode::NoAnswer;
            break;
        case SimAction::Kind::Cover: {
            if (!m_coverPending || m_coverRow != row || m_coverLine != line) {
                m_coverPending = true;
                m_coverRow = row;
                m_coverLine = line;
                m_coverSends = 0;
            }
            ++m_coverSends;
            if (m_coverSends <= action.value) {
                if (m_coverSends == 1)
                    raiseStatus(RegisterState::CoverOpen);
                m_extended = ResultCode::CoverOpen;
                return ResultCode::SpecificError;
            }
            m_coverPending = false;
            if (action.value > 0) {
                raiseStatus(RegisterState::CoverClosed);
                raiseStatus(RegisterState::Idle);
            }
            break;
        }
        case SimAction::Kind::Dump: {
            const QString text = expandDumpText(action.text, match);
            journal(QStringLiteral("DumpData=") + text);
            emit DumpData(0, 1, text);
            break;
        }
        }
    }
    return result;
}

qint32 SimulatedRegister::SendCommand(qint32& row, qint16 mode, QString& line)
{
    m_extended = 0;
    qint32 result = ResultCode::ClosedDevice;
    if (m_open) {
        if (row == 1) {
            m_docAccepted = 0;
            m_docRejected = false;
            m_docCounted = false;
        }
        result = ResultCode::NoAnswer;
        if (m_waits->serveEventsFor(m_lineDelayMs)) {
            result = 0;
            for (const SimRule& rule : m_rules) {
                const auto match = rule.pattern.match(line);
                if (match.hasMatch()) {
                    result = applyRule(rule, match, row, line);
                    break;
                }
            }
        }
        const bool coverWait =
            result == ResultCode::SpecificError && m_extended == ResultCode::CoverOpen;
        if (result == 0)
            ++m_docAccepted;
        else if (!coverWait)
            m_docRejected = true;
    }
    journal(QStringLiteral("Send=%1;%2;%3;%4")
                .arg(QString::number(row), QString::number(mode), QString::number(result), line));
    return result;
}

qint32 SimulatedRegister::ExtendedResult()
{
    return m_extended;
}

qint32 SimulatedRegister::SendQuery(qint32, qint16, const QString& query, QString& answer)
{
    qint32 result = 0;
    answer.clear();
    if (!m_open) {
        result = ResultCode::ClosedDevice;
    } else if (query != kStatusQuery) {
        result = ResultCode::NoSuchValue;
    } else {
        if (!m_docCounted && m_docAccepted > 0 && !m_docRejected) {
            m_docCounted = true;
            m_lastReceipt = m_nextReceipt++;
            saveMemory();
            journal(QStringLiteral("Receipt=%1").arg(m_lastReceipt));
        }
        auto flag = [](bool on) { return on ? QLatin1Char('1') : QLatin1Char('0'); };
        answer = QString(flag(m_coverOpen)) + flag(m_paperOut) + flag(m_busy) +
                 QLatin1String("00000") +
                 QStringLiteral("%1").arg(m_lastReceipt % 10000, 4, 10, QLatin1Char('0'));
    }
    journal(QStringLiteral("Query=%1;%2;%3").arg(query, QString::number(result), answer));
    return result;
}
