#pragma once

#include "InputFolderScanner.h"

#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

// What the program knew when it started sending a command file, kept on disk while the file is
// sent so that a crash never leads to the file being sent a second time without a person
// deciding.
struct RecoveryState
{
    QString file;
    qint64 size = 0;
    qint64 modifiedMs = 0; // modification time, milliseconds since the epoch
    std::optional<int> lastReceipt;
    QString time;
    // Which register the file went to (its program folder and port): another register's
    // receipt number proves nothing about this file. Empty in records of earlier versions.
    QString registerName;
    qint32 acceptedRow = 0; // last row the register accepted
    // Set once the file's verdict was whole on the disk: it is final, whatever else is known.
    enum class Verdict { None, Sent, Failed };
    Verdict verdict = Verdict::None;
};

// A command file that has its verdict but stayed in the input folder (it could not be deleted,
// or its only copy could not be made): never sent again by itself while it is unchanged.
struct LeftFile
{
    QString path;
    FileSignature signature;
    QByteArray digest; // of its content; empty in records of earlier versions
    bool operator==(const LeftFile&) const = default;
};

// One small file, "<program>.REC" in the input folder. Before the first line of a file goes to
// the register its record is written and flushed to the disk; its row is updated in place as
// lines are accepted, and once the verdict is written the record is marked as done. It also
// keeps the files left in the folder with their verdict, so that a restart does not send them
// again.
//
// The instance that has the record open holds a lock on it that the system drops when the
// instance ends: it is the one instance that sends from this input folder.
//
// The file is kept and rewritten in place rather than made anew for every command file: making
// and deleting a file each time costs the file system far more than the one flushed write.
// Room for a verdict is reserved behind its end before every file (see reserve()).
class RecoveryRecord
{
public:
    explicit RecoveryRecord(QString path) : m_path(std::move(path)) {}

    // Where the record lives; a new place closes the old one (and lets its lock go).
    void setPath(const QString& path);
    const QString& path() const { return m_path; }

    enum class Opened {
        Yes,           // open and locked by this instance
        Newly,         // the same, and only since this call: what it holds is to be dealt with
        HeldElsewhere, // another instance sends from this folder
        No,            // cannot be made or opened
    };
    // Opens and locks the record where it is now (made when missing).
    Opened open();
    // Lets the file and its lock go.
    void close();
    bool isOpen() const { return m_file != nullptr; }

    // Room for a verdict behind the record's end, so that a disk that fills while a file is
    // sent still takes its verdict: false when the disk has no such room.
    bool reserve(qint64 bytes);
    // Gives the reserved room back to the disk, for a verdict that did not fit otherwise.
    void releaseReserve();

    // False when the record cannot be written: the file must then not be sent.
    bool begin(const RecoveryState& state);
    void setAcceptedRow(qint32 row);
    // The file's verdict is whole on the disk (the .OK, or the .KO and the copy); only the file
    // itself is left to go.
    void verdictWritten(bool sent);
    // The file has its verdict: nothing to recover any more.
    void finish();

    // The files left in the folder with their verdict, as this instance knows them.
    const QList<LeftFile>& leftFiles() const { return m_left; }
    bool leftFilesSaved() const { return m_leftSaved; }
    // Writes a new list and flushes it to the disk; false when that failed (it is then written
    // with the next begin()).
    bool setLeftFiles(const QList<LeftFile>& files);

    // The state of a file whose sending was interrupted; nothing if none was.
    static std::optional<RecoveryState> read(const QString& path);
    // The files the record says were left in the folder with their verdict.
    static QList<LeftFile> readLeftFiles(const QString& path);

private:
    bool writeContent();

    QString m_path;
    std::unique_ptr<QFile> m_file;
    QByteArray m_head; // the lines of the file being sent, after the busy flag, before its row
    char m_busyDigit = '1';
    qint32 m_acceptedRow = 0;
    QList<LeftFile> m_left;
    qint64 m_rowOffset = -1;
    bool m_active = false;
    bool m_leftSaved = true;
};
