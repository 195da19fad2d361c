#pragma once

#include <QDateTime>
#include <QFile>
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
    qint32 acceptedRow = 0; // last row the register accepted
};

// One small file, "<program>.REC" in the input folder. Before the first line of a file goes to
// the register its record is written and flushed to the disk; its row is updated in place as
// lines are accepted, and once the verdict is written the record is marked as done.
//
// The file is kept and rewritten in place rather than made anew for every command file: making
// and deleting a file each time costs the file system far more than the one flushed write.
class RecoveryRecord
{
public:
    explicit RecoveryRecord(QString path) : m_path(std::move(path)) {}

    // Where the record lives; a new place closes the old one.
    void setPath(const QString& path);
    const QString& path() const { return m_path; }

    // Opens the record where it is now (made when missing); false when it cannot be.
    bool open();
    // False when the record cannot be written: the file must then not be sent.
    bool begin(const RecoveryState& state);
    void setAcceptedRow(qint32 row);
    // The file has its verdict: nothing to recover any more.
    void finish();
    // Lets the file go, e.g. before it is deleted.
    void close();

    // The state of a file whose sending was interrupted; nothing if none was.
    static std::optional<RecoveryState> read(const QString& path);

private:
    QString m_path;
    std::unique_ptr<QFile> m_file;
    qint64 m_rowOffset = -1;
    bool m_active = false;
};
