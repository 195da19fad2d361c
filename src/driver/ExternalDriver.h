#pragma once

#include "DriverErrorOutput.h"
#include "DriverProtocol.h"
#include "RegisterDriver.h"
#include "common/InterruptibleWait.h"
#include "platform/ChildProcess.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <functional>
#include <memory>
#include <optional>

// A register driver that is a program of its own, spoken to over its standard input and output
// (docs/DRIVERS.md). Calls wait with the event loop running, so the window stays responsive and
// the driver's events arrive during the call, before its answer. A driver that does not answer
// in time is ended (572); one that dies or breaks the protocol fails the call (571). Either way
// it is started again for the next call, after a pause that grows while it keeps failing, and
// the port it had open is opened again first.
class ExternalDriver : public RegisterDriver
{
    Q_OBJECT
public:
    struct Options
    {
        QString program; // absolute, or found in the working folder
        QStringList arguments;
        QString startError;         // when set, the driver cannot be started, for this reason
        QString workingFolder;      // the program folder
        int timeoutMs = 30000;      // one call
        int startTimeoutMs = 30000; // the start and the greeting
        // After a failure the driver starts again at once; after more in a row, it waits this
        // long, then twice as long each time, up to the most.
        int firstRestartPauseMs = 1000;
        int maxRestartPauseMs = 60000;
    };

    // The waits go through `waits` (one of its own when none is given), so that a shut-down
    // can give up a pending call.
    explicit ExternalDriver(Options options, InterruptibleWait* waits = nullptr,
                            QObject* parent = nullptr);
    ~ExternalDriver() override;

    void setPreOpenFlag(bool flag) override;
    void setPortSpeed(const QString& speed) override { m_speed = speed; }
    int restarts() const override { return m_restarts; }
    qint32 OpenPort(QString& port) override;
    qint32 ClosePort() override;
    qint32 SendCommand(qint32& row, qint16 mode, QString& line) override;
    qint32 ExtendedResult() override;
    qint32 SendQuery(qint32 reserved1, qint16 reserved2, const QString& query,
                     QString& answer) override;

private:
    struct Reply
    {
        qint32 result = 0;
        std::optional<QString> answer;
    };
    // One request and its answer; on failure, the result code the call gives (571 or 572).
    struct Outcome
    {
        std::optional<Reply> reply;
        qint32 failure = 0;
    };
    Outcome call(DriverProtocol::Request request);
    DriverProtocol::Request flagRequest(bool flag) const;
    DriverProtocol::Request openRequest(const QString& port) const;
    Outcome exchange(const DriverProtocol::Request& request);
    bool ensureRunning();
    // Starts the driver program and waits for its greeting; false on failure (reported).
    bool start();
    void stop();
    void fail(const QString& why, bool countsAsFailure = true);
    // The driver died or broke the protocol: the call under way fails, or, between calls, the
    // failure is reported at once.
    void brokeDown(const QString& why);
    void succeeded();
    void readOutput();
    void readErrors();
    void handleLine(const QByteArray& line);

    Options m_options;
    InterruptibleWait m_ownWaits;
    InterruptibleWait* m_waits;
    QString m_speed; // passed on with OpenPort
    QString m_name;
    std::unique_ptr<QProcess> m_process;
    ChildProcess m_child;
    QByteArray m_output;
    // How far the driver program is: not running, started and awaited, greeted, and greeted
    // with its port as it should be (opened again after a restart, or not needed).
    enum class Link { Down, Greeting, Greeted, Ready };
    Link m_link = Link::Down;
    // A call or the greeting is being waited for.
    bool m_waiting = false;
    // Why the driver broke during the current call; empty while all is well.
    QString m_broken;
    qint64 m_nextId = 1;
    qint64 m_awaited = 0;
    std::optional<Reply> m_reply;

    int m_failures = 0; // in a row, since the last call that worked
    QDeadlineTimer m_restartNotBefore;
    bool m_started = false; // a first start was tried: any later one is a restart
    int m_restarts = 0;
    QString m_shownFault;
    // The port the driver has open, opened again after a restart.
    std::optional<QString> m_openPort;
    bool m_sendFailed = false;

    DriverErrorOutput m_errorOutput;
};
