#pragma once

#include "SimulatorRules.h"
#include "common/Clock.h"
#include "common/InterruptibleWait.h"
#include "driver/RegisterDriver.h"

#include <QFile>
#include <QList>
#include <memory>
#include <vector>

// Stands in for the maker's driver where it does not exist. It models no real register: it
// answers each line after the rules of "Simulatore.ini" in the program folder (read at every
// OpenPort), counts receipts, and writes every operation to a journal so that developers of
// other programs, and our own tests, can see what was sent.
class SimulatedRegister : public RegisterDriver
{
    Q_OBJECT
public:
    static inline const QString kConfigFileName = QStringLiteral("Simulatore.ini");
    // The register's own memory: its receipt counter outlives the program, as a real one's does.
    static inline const QString kMemoryFileName = QStringLiteral("Simulatore.mem");

    // Its delays go through `waits`, so that a shut-down can cut them short (one of its own when
    // none is given).
    SimulatedRegister(QString programFolder, const Clock& clock, InterruptibleWait* waits = nullptr,
                      QObject* parent = nullptr);

    void setPreOpenFlag(bool flag) override;
    qint32 OpenPort(QString& port) override;
    qint32 ClosePort() override;
    qint32 SendCommand(qint32& row, qint16 mode, QString& line) override;
    qint32 ExtendedResult() override;
    qint32 SendQuery(qint32 reserved1, qint16 reserved2, const QString& query,
                     QString& answer) override;

private:
    void loadConfiguration();
    void loadMemory();
    void saveMemory();
    void journal(const QString& entry) const;
    void raiseStatus(qint32 status);
    // Runs the matching rule's actions and gives the line's result.
    qint32 applyRule(const SimRule& rule, const QRegularExpressionMatch& match, qint32 row,
                     const QString& line);

    QString m_programFolder;
    const Clock& m_clock;
    InterruptibleWait m_ownWaits;
    InterruptibleWait* m_waits;

    // Configuration
    QList<qint64> m_ports;
    int m_lineDelayMs = 0;
    QString m_journalPath;
    std::vector<SimRule> m_rules;
    QString m_appliedNextReceipt;
    std::unique_ptr<QFile> m_memory;
    bool m_memoryLoaded = false;
    bool m_memorySaved = true; // as last reported

    // State
    bool m_open = false;
    qint32 m_extended = 0;
    qint64 m_nextReceipt = 1;
    qint64 m_lastReceipt = 0;
    bool m_coverOpen = false;
    bool m_paperOut = false;
    bool m_busy = false;

    // The line whose cover sends are being counted.
    bool m_coverPending = false;
    qint32 m_coverRow = 0;
    QString m_coverLine;
    qint64 m_coverSends = 0;

    // The document that the last row 1 started.
    qint64 m_docAccepted = 0;
    bool m_docRejected = false;
    bool m_docCounted = true;
};
