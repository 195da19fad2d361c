#pragma once

#include <QObject>
#include <QString>
#include <stdexcept>

// Raised by a driver whose call failed as a call (the driver itself broke down), as opposed to
// a call that returned a non-zero result.
class DriverCallError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The cash-register driver. Results are 32-bit integers; a non-zero SendCommand result is also
// a message id of the catalogue. Events are raised on the UI thread, possibly during a call.
class RegisterDriver : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~RegisterDriver() override = default;

    // Set to false immediately before every OpenPort.
    virtual void setPreOpenFlag(bool flag) = 0;
    // The speed the settings hold (BaudRate, as written), told before every OpenPort; a driver
    // that has its own way to know it ignores it.
    virtual void setPortSpeed(const QString& speed) { Q_UNUSED(speed); }
    // How many times a driver program was started again after it stopped working.
    virtual int restarts() const { return 0; }
    // 0: the port is open.
    virtual qint32 OpenPort(QString& port) = 0;
    virtual qint32 ClosePort() = 0;
    // 0: line accepted; 574 with ExtendedResult 581: printer cover open.
    virtual qint32 SendCommand(qint32& row, qint16 mode, QString& line) = 0;
    virtual qint32 ExtendedResult() = 0;
    // 0: the answer is valid.
    virtual qint32 SendQuery(qint32 reserved1, qint16 reserved2, const QString& query,
                             QString& answer) = 0;

signals:
    void StatusUpdate(qint32 status);
    void DumpData(qint32 unused, qint32 count, const QString& text);
    // The driver itself stopped working (why, in a few words), or works again (empty).
    void faultChanged(const QString& why);
};

inline const QString kStatusQuery = QStringLiteral("<</?s");
