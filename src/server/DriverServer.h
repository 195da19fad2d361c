#pragma once

#include "ServerView.h"
#include "common/Clock.h"
#include "common/InterruptibleWait.h"
#include "driver/RegisterDriver.h"
#include "pipeline/CommandFilePipeline.h"
#include "pipeline/DriverEventHandler.h"
#include "settings/Settings.h"
#include "status/StatusModel.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>

class SingleInstanceLock;

// The program without its windows: the settings, the register, the command-file pipeline, the
// polling timer and the watch on the input folder, and the rules of a run. Start-up, ticks, the
// pauses for the settings dialog and for a configuration document, and the shut-down follow
// named states; a request to end is remembered until the work under way allows it.
class DriverServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kExitSecondInstance = 2;
    static constexpr int kExitPortFailure = 3;

    struct Options
    {
        CommandFilePipeline::Options pipeline;
        // Take command files as soon as they are complete, besides polling.
        bool watchInputFolder = true;
        // Shared with the driver, whose waits a shut-down must cut short too.
        InterruptibleWait* waits = nullptr;
    };

    enum class State {
        Created,
        Starting,
        Running,
        SettingsOpen, // port closed, no polling
        DocumentOpen, // polling goes on
        ShuttingDown,
        Done,
    };
    // Who asks the program to end: a "STOP" line, or the user, the system or a signal.
    enum class Origin { Own, Outside };

    DriverServer(QString programFolder, QString programName, RegisterDriver& driver,
                 const Clock& clock, SingleInstanceLock& instanceLock, Options options);
    ~DriverServer() override;

    // The window (or a test's stand-in) that shows the run; attached once, before start().
    void attachView(ServerView& view);

    // 0 when the program runs on; otherwise the exit status of a program that must end at once.
    int start();
    // One round of the polling timer or of the folder watch, when the state allows it.
    void tick(CommandFilePipeline::TickCause cause);
    // Ends the program now if nothing is under way, otherwise as soon as it is over. A request
    // from outside also gives up waiting for the register and closes our dialogs.
    void requestShutdown(Origin origin);

    // The settings dialog: false when it cannot open now. While it is open the port is closed
    // and polling stops; endSettings takes the settings as the dialog left them and reopens.
    bool beginSettings();
    void endSettings(const Settings& edited);
    // File > Invia: false when it cannot start now; endDocument sends the chosen document.
    bool beginDocument();
    void endDocument(const std::optional<QString>& document);

    State state() const { return m_state; }
    // True while a file is being sent or one of our dialogs is open.
    bool isWorking() const;
    const Settings& settings() const { return m_settings; }
    // What the program knows of its situation, for the window and any other observer.
    StatusModel& status() { return m_status; }
    const QString& programFolder() const { return m_programFolder; }

    // A command file this program has just written into the input folder and closed (an HTTP
    // job): taken at once, as if the folder watch had seen it.
    void commandFileWritten(const QString& path);
    // A dated "<key>=<value>" line in the activity log.
    void logNotice(const QString& key, const QString& value) { m_pipeline->logNotice(key, value); }
    // For those who watch from outside: faults of each kind since the start, driver restarts.
    const QMap<FolderFaults::Source, int>& faultsSeen() const { return m_pipeline->faultsSeen(); }
    int driverRestarts() const { return m_driver.restarts(); }
    const CommandFilePipeline::LineCounts& lineCounts() const { return m_pipeline->lineCounts(); }

signals:
    // The run is over, with the program's exit status: 0 after the shut-down, or the status of
    // a program that had to end at once (the port did not open again).
    void ended(int status);
    // A command file got its verdict (its handling is over), or began to be sent.
    void verdictLeft(const FileVerdict& verdict);
    void fileStarted(const QString& path);
    // The shut-down begins (Stop.txt is sent next).
    void shutDownBegins();

private:
    QString startFilePath() const;
    QString stopFilePath() const;

    // How far a request to end has gone; each level includes the ones before it.
    enum class Closing {
        None,
        Queued,             // a "STOP" line: no new round of files is started
        Pending,            // waits for the work under way
        PendingFromOutside, // ... and no further file is started
        Aborting,           // ... and waits for the register are given up
    };

    bool openPort();
    void showPortAndReadyState();
    void startPolling();
    void pickUpIfWanted();
    bool ticksAllowed() const;
    void raiseClosing(Closing level);
    void shutDownIfWanted();
    void shutDown();
    void endAtOnce(int status);

    QString m_programFolder;
    QString m_programName;
    RegisterDriver& m_driver;
    SingleInstanceLock& m_instanceLock;
    const Clock& m_clock;
    ServerView* m_view = nullptr;
    Options m_options;

    Settings m_settings;
    StatusModel m_status{m_settings};
    std::unique_ptr<CommandFilePipeline> m_pipeline;
    std::unique_ptr<DriverEventHandler> m_events;
    QTimer m_tmrFile;
    // Starts a tick from the event loop when the watcher has news.
    QTimer m_tmrPickUp;

    State m_state = State::Created;
    Closing m_closing = Closing::None;
    // A folder event came when no tick could run.
    bool m_pickUpWanted = false;
};
