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

// One small file, "<program>.REC" in the input folder. It is written (and flushed to disk)
// before the first line goes to the register, its row is updated in place as lines are
// accepted, and it is removed once the file's verdict is written.
class RecoveryRecord
{
public:
    explicit RecoveryRecord(QString path) : m_path(std::move(path)) {}
    ~RecoveryRecord();

    // False when the record cannot be written: the file must then not be sent.
    bool begin(const RecoveryState& state);
    void setAcceptedRow(qint32 row);
    void finish();

    const QString& path() const { return m_path; }
    static std::optional<RecoveryState> read(const QString& path);

private:
    QString m_path;
    std::unique_ptr<QFile> m_file;
    qint64 m_rowOffset = -1;
};
