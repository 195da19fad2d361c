#pragma once

#include "CrashRecovery.h"
#include "InputFolderScanner.h"
#include "PipelineFaults.h"
#include "RecoveryRecord.h"
#include "VerdictWriter.h"
#include "common/Clock.h"
#include "common/InterruptibleWait.h"
#include "driver/RegisterDriver.h"
#include "settings/Settings.h"
#include "status/StatusModel.h"

#include <QIODevice>
#include <functional>
#include <memory>

// Sends command files to the register line by line, each guarded by the recovery record, and
// has the verdict left (VerdictWriter): result files beside the file, a line in the activity
// log, the error on screen and a dated copy of a failed file in the output folder. Runs on the
// UI thread; a send blocks it except while waiting for an open printer cover, when events keep
// being served.
class CommandFilePipeline
{
public:
    struct Options
    {
        int coverRetryPauseMs = 1000;
        // A file modified more recently than this may still be being written: it waits.
        int settleMs = 1000;
        qsizetype maxLineBytes = 65536;
    };
    // Opens a command file for reading; nullptr when it cannot be opened.
    using FileOpener = std::function<std::unique_ptr<QIODevice>(const QString& path)>;

    // The waits for the register go through `waits` (one the pipeline owns when none is given).
    CommandFilePipeline(const Settings& settings, RegisterDriver& driver, StatusModel& status,
                        const Clock& clock, QString programName, Options options,
                        InterruptibleWait* waits = nullptr);
    InterruptibleWait& waits() { return *m_waits; }

    // What started a tick: the polling timer reads the whole input folder (and watches it again
    // if the watch was lost); a folder event relies on the watcher where it can.
    enum class TickCause { Timer, FolderEvent };

    // One tick (the caller switches the timer off and on around it): sends every command file
    // of the input folder, files that arrive meanwhile included. When stopRequested says so, the
    // tick ends after the current file; the rest waits. When endAfterRound says so, it ends once
    // the files of the current listing are sent.
    void runTick(const std::function<bool()>& stopRequested = {},
                 TickCause cause = TickCause::Timer,
                 const std::function<bool()>& endAfterRound = {});

    // Files are then taken as soon as they are complete, not only at the next timer tick.
    void setFolderWatcher(std::unique_ptr<FolderWatcher> watcher);
    FolderWatcher* folderWatcher() const { return m_scanner.watcher(); }
    // (Re)starts watching the input folder, e.g. after the settings changed it.
    bool watchInputFolder();

    void ProcessCommandFile(const QString& path, bool deleteFile);
    // Last four characters of the register's status answer.
    QString QueryAnswerTail();
    // Appends a dated ";Dump=" line to the .OK file of the current command file; false when
    // it could not be written.
    bool WriteDumpLine(const QString& text);
    // Log line, .KO file (when base is not blank) or last-receipt display.
    void RecordOutcome(qint32 row, const QString& line, qint32 code, const QString& base);

    // A dated "<key>=<value>" line in the activity log.
    void logNotice(const QString& key, const QString& value);
    const QMap<FolderFaults::Source, int>& faultsSeen() const { return m_faults.faultsSeen(); }
    // The lines the register took, and those it refused by code (at most kCodesCounted codes,
    // the rest under 0), since the start.
    static constexpr int kCodesCounted = 16;
    struct LineCounts
    {
        qint64 sent = 0;
        QMap<qint32, qint64> refused;
    };
    const LineCounts& lineCounts() const { return m_lineCounts; }
    QString logFilePath() const;
    QString recoveryRecordPath() const;

    // At start-up, before anything else is sent: takes the input folder (see checkInputFolder)
    // and deals with a command file whose sending was interrupted by a crash. If the register's
    // receipt number moved forward since by a step this file could have made, the file reached it
    // and is recorded as sent; otherwise (the same number, one that went back or jumped too far, no
    // answer) it fails with 553, so that a person decides whether to send it again. Never sends the
    // file again by itself.
    void recoverInterruptedFile();
    // The most receipts one command file is taken to make (and never more than its lines).
    static constexpr int kMaxReceiptsPerFile = CrashRecovery::kMaxReceiptsPerFile;

    // Which register the files go to (its program folder and port): the recovery record names
    // it, so that another register's receipt number never decides about a file.
    void setRegisterName(const QString& name);

    // Shows that the driver program does not work (why), or clears it (empty).
    void setDriverFault(const QString& why);

    // Looks at the input folder and shows, or clears, what keeps the program from working
    // there. False when files must not be sent now. The instance that sends from a folder holds
    // its recovery record; one that finds it held sends nothing from there until it is free,
    // and one that takes it over deals first with what the record holds (the files left with
    // their verdict, a file interrupted by a crash).
    bool checkInputFolder();

    // Called for a "STOP" line: the program is to end once the current work is done (never on
    // the spot).
    void setCloseRequest(std::function<void()> request) { m_closeRequest = std::move(request); }
    // Asked while a line waits for an open printer cover: true when the program must stop
    // waiting (a shut-down was asked for from outside).
    void setAbortCheck(std::function<bool()> check) { m_abortCheck = std::move(check); }
    // True while a tick or a command file is under way (events may be served meanwhile).
    bool isBusy() const { return m_busyDepth > 0; }

    void setFileOpener(FileOpener opener) { m_openFile = std::move(opener); }

    // Told of every verdict once the file's handling is over (file deleted, record updated),
    // and of every polled file as its sending begins.
    void setVerdictListener(std::function<void(const FileVerdict&)> listener)
    {
        m_verdictListener = std::move(listener);
    }
    void setFileStartListener(std::function<void(const QString& path)> listener)
    {
        m_fileStarted = std::move(listener);
    }
    // A command file this program wrote and closed: it is taken without settling.
    void markComplete(const QString& path);

private:
    struct BusyScope;
    void announceVerdict();
    // A polled file comes with its size and time as seen just before. False when nothing more
    // can be sent now (no room for a verdict, the folder is not ours).
    bool sendPolledFile(const QString& path, const std::optional<FileSignature>& signature);
    // The start, stop and document files are given and stay.
    void sendGivenFile(const QString& path);
    qint64 verdictReserveBytes() const;
    // nullptr when the file is missing or cannot be read (then it has its verdict already).
    std::unique_ptr<QIODevice> openCommandFile(const QString& path, const QString& base,
                                               bool& unreadable);
    LinesSent sendLines(QIODevice& device, RecoveryRecord* record);
    void countLine(qint32 result);
    qint32 sendLine(qint32 row, const QString& line);

    const Settings& m_settings;
    RegisterDriver& m_driver;
    StatusModel& m_status;
    const Clock& m_clock;
    QString m_programName;
    Options m_options;
    FileOpener m_openFile;
    PipelineFaults m_faults;
    LineCounts m_lineCounts;
    InputFolderScanner m_scanner;
    RecoveryRecord m_record;
    VerdictWriter m_verdicts;
    CrashRecovery m_recovery;
    std::function<bool()> m_abortCheck;
    std::function<void()> m_closeRequest;
    std::function<void(const FileVerdict&)> m_verdictListener;
    std::function<void(const QString&)> m_fileStarted;
    InterruptibleWait m_ownWaits;
    InterruptibleWait* m_waits;
    int m_busyDepth = 0;
    QString m_registerName;
};
