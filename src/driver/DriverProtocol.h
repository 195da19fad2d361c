#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The lines a driver program and this program exchange: one JSON object per line, UTF-8, the
// register's Windows-1252 text carried as ordinary JSON strings (one character per byte of the
// code page). docs/DRIVERS.md describes it for driver authors.
namespace DriverProtocol {

constexpr int kVersion = 1;
inline const QString kName = QStringLiteral("quorin-driver");
// A longer line is not the protocol (a command line is at most 65,536 bytes, six times that
// when every character is escaped).
constexpr qsizetype kMaxLineBytes = 1 << 20;

// What this program asks: the six operations of the register driver.
struct Request
{
    qint64 id = 0;
    QString op;          // PreOpenFlag, OpenPort, ClosePort, SendCommand, ExtendedResult, SendQuery
    bool flag = false;   // PreOpenFlag
    QString port, speed; // OpenPort: the settings as written
    qint32 row = 0;      // SendCommand
    qint32 mode = 0;     // SendCommand
    QString line;        // SendCommand
    qint32 param1 = 0;   // SendQuery
    qint32 param2 = 0;   // SendQuery
    QString query;       // SendQuery
};

// What the driver writes: its greeting first, then answers in the order asked, and events at
// any time.
struct Message
{
    enum class Kind { Hello, Answer, StatusUpdate, DumpData };
    Kind kind = Kind::Answer;
    int version = 0;               // Hello
    qint64 id = 0;                 // Answer
    qint32 result = 0;             // Answer
    std::optional<QString> answer; // Answer to SendQuery
    qint32 status = 0;             // StatusUpdate
    qint32 count = 0;              // DumpData
    QString text;                  // DumpData
};

// Each encoder gives one line, ending in '\n'.
QByteArray encode(const Request& request);
QByteArray encode(const Message& message);
QByteArray hello();

// Nothing when the line is not a valid message; `why` then says what is wrong.
std::optional<Request> decodeRequest(const QByteArray& line, QString* why = nullptr);
// Whether this version of the protocol has the operation (decodeRequest takes any).
bool isKnownOperation(const QString& op);
std::optional<Message> decodeMessage(const QByteArray& line, QString* why = nullptr);

} // namespace DriverProtocol
