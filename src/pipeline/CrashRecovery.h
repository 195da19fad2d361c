#pragma once

#include "InputFolderScanner.h"
#include "PipelineFaults.h"
#include "RecoveryRecord.h"
#include "VerdictWriter.h"
#include "settings/Settings.h"

// What the recovery record of the input folder holds, dealt with when the folder is taken: the
// files left in it with their verdict, and a command file whose sending a crash interrupted.
class CrashRecovery
{
public:
    // The most receipts one command file is taken to make (and never more than its lines).
    static constexpr int kMaxReceiptsPerFile = 100;

    CrashRecovery(const Settings& settings, RecoveryRecord& record, InputFolderScanner& scanner,
                  VerdictWriter& verdicts, PipelineFaults& faults, qsizetype maxLineBytes);

    // No other instance works in the folder now: what a killed one left is ours to deal with.
    void takeOver();
    // The register this instance sends to (see RecoveryState::registerName).
    void setRegisterName(const QString& name) { m_registerName = name; }
    // The files passed over (left in the folder with their verdict) onto the disk.
    void persistLeftFiles();

private:
    // If the register's receipt number moved forward since by a step the interrupted file
    // could have made, the file reached it and is recorded as sent; otherwise it fails with 553
    // for a person to decide. Never sends the file again by itself.
    void recoverInterruptedFile();
    // The record says the verdict was written, and it is there.
    static bool verdictOnDisk(const RecoveryState& state, const QString& base);
    int countLines(const QString& path) const;
    QString lineAt(const QString& path, qint32 row) const;

    const Settings& m_settings;
    RecoveryRecord& m_record;
    InputFolderScanner& m_scanner;
    VerdictWriter& m_verdicts;
    PipelineFaults& m_faults;
    qsizetype m_maxLineBytes;
    QString m_registerName;
};
