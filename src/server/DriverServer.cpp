#include "DriverServer.h"

#include "messages/MessageCatalogue.h"
#include "messages/MessageIds.h"
#include "pipeline/InputFolderScanner.h"
#include "platform/SingleInstanceLock.h"

DriverServer::DriverServer(QString programFolder, QString programName, RegisterDriver& driver,
                           const Clock& clock, SingleInstanceLock& instanceLock, Options options)
    : m_programFolder(std::move(programFolder)), m_programName(std::move(programName)),
      m_driver(driver), m_instanceLock(instanceLock), m_clock(clock), m_options(options)
{
    m_driver.setObjectName(QStringLiteral("OrvekQuorin"));
    m_tmrFile.setObjectName(QStringLiteral("tmrFile"));
    m_tmrFile.setParent(this);
    m_tmrFile.setInterval(0);
    connect(&m_tmrFile, &QTimer::timeout, this,
            [this] { tick(CommandFilePipeline::TickCause::Timer); });
    m_pipeline =
        std::make_unique<CommandFilePipeline>(m_settings, m_driver, m_status, m_clock,
                                              m_programName, m_options.pipeline, m_options.waits);
    m_pipeline->setAbortCheck([this] { return m_closing == Closing::Aborting; });
    m_pipeline->setCloseRequest([this] {
        raiseClosing(Closing::Queued);
        QMetaObject::invokeMethod(
            this, [this] { requestShutdown(Origin::Own); }, Qt::QueuedConnection);
    });
    m_pipeline->setVerdictListener([this](const FileVerdict& v) { emit verdictLeft(v); });
    m_pipeline->setFileStartListener([this](const QString& path) { emit fileStarted(path); });
    m_tmrPickUp.setSingleShot(true);
    m_tmrPickUp.setInterval(0);
    connect(&m_tmrPickUp, &QTimer::timeout, this,
            [this] { tick(CommandFilePipeline::TickCause::FolderEvent); });
    if (m_options.watchInputFolder) {
        m_pipeline->setFolderWatcher(createFolderWatcher(&InputFolderScanner::isCommandFileName));
        connect(m_pipeline->folderWatcher(), &FolderWatcher::eventsPending, &m_tmrPickUp,
                qOverload<>(&QTimer::start));
    }
    // Driver -> events -> pipeline: what the register reports while a line is sent ends up in
    // that file's .OK.
    m_events = std::make_unique<DriverEventHandler>(
        m_status, [this](const QString& text) { m_pipeline->WriteDumpLine(text); });
    connect(&m_driver, &RegisterDriver::StatusUpdate, this,
            [this](qint32 status) { m_events->StatusUpdate(status); });
    connect(&m_driver, &RegisterDriver::DumpData, this,
            [this](qint32 unused, qint32 count, const QString& text) {
                m_events->DumpData(unused, count, text);
            });
    connect(&m_driver, &RegisterDriver::faultChanged, this,
            [this](const QString& why) { m_pipeline->setDriverFault(why); });
}

void DriverServer::attachView(ServerView& view)
{
    Q_ASSERT(!m_view);
    m_view = &view;
}

DriverServer::~DriverServer() = default;

QString DriverServer::startFilePath() const
{
    return pathInFolder(m_programFolder, QStringLiteral("Avvio.txt"));
}

QString DriverServer::stopFilePath() const
{
    return pathInFolder(m_programFolder, QStringLiteral("Stop.txt"));
}

int DriverServer::start()
{
    m_state = State::Starting;
    // Ids 550 and 551 are looked up without the language offset: the settings are not read yet
    // or may be what is wrong.
    if (!m_instanceLock.tryLock()) {
        m_view->showCritical(*MessageText(MessageId::SecondInstance));
        m_state = State::Done;
        return kExitSecondInstance;
    }

    m_settings = SettingsFile(m_programFolder).load();
    m_view->applyLanguage(m_settings.languageOffset());

    if (!openPort()) {
        m_view->showCritical(*MessageText(MessageId::PortFailure));
        m_state = State::Done;
        return kExitPortFailure;
    }
    showPortAndReadyState();
    m_status.iconCreated();
    m_view->showTrayIcon();

    m_pipeline->recoverInterruptedFile();
    m_pipeline->ProcessCommandFile(startFilePath(), false);

    startPolling();
    m_state = State::Running;
    // Files already waiting go right after "Avvio.txt", like files that arrive later.
    QMetaObject::invokeMethod(
        this, [this] { tick(CommandFilePipeline::TickCause::Timer); }, Qt::QueuedConnection);
    // A close asked for while "Avvio.txt" was being sent is carried out once start-up is over.
    if (m_closing >= Closing::Pending)
        QMetaObject::invokeMethod(
            this, [this] { requestShutdown(Origin::Own); }, Qt::QueuedConnection);
    return 0;
}

bool DriverServer::openPort()
{
    m_driver.setPreOpenFlag(false);
    QString port = m_settings.Port;
    m_driver.setPortSpeed(m_settings.BaudRate);
    const qint32 result = m_driver.OpenPort(port);
    if (result != 0)
        qWarning("Port COM%s does not open (error %d)", qPrintable(m_settings.Port), result);
    return result == 0;
}

void DriverServer::showPortAndReadyState()
{
    const int offset = m_settings.languageOffset();
    m_view->setPortTitle(LocalisedText(offset, MessageId::RegisterOnPort) + QStringLiteral("COM") +
                         m_settings.Port);
    m_pipeline->setRegisterName(m_programFolder + QStringLiteral(" COM") + m_settings.Port);
    m_status.portOpened();
}

void DriverServer::startPolling()
{
    // Watched before the timer's first listing, so nothing slips between the two.
    m_pipeline->watchInputFolder();
    m_tmrFile.setInterval(m_settings.pollingIntervalMs());
    m_tmrFile.start();
    pickUpIfWanted();
}

void DriverServer::pickUpIfWanted()
{
    if (m_pickUpWanted)
        m_tmrPickUp.start();
}

void DriverServer::commandFileWritten(const QString& path)
{
    m_pipeline->markComplete(path);
    // Counted at once; the next listing counts again.
    m_status.filesWaiting(m_status.waiting() + 1);
    m_pickUpWanted = true;
    if (ticksAllowed())
        m_tmrPickUp.start();
}

bool DriverServer::ticksAllowed() const
{
    return m_state == State::Running || m_state == State::DocumentOpen;
}

bool DriverServer::isWorking() const
{
    return m_pipeline->isBusy() || m_state == State::SettingsOpen || m_state == State::DocumentOpen;
}

void DriverServer::tick(CommandFilePipeline::TickCause cause)
{
    // Ticks run only while the timer runs: never inside another tick or a document being sent,
    // nor while the settings dialog has the port closed. A file that arrives meanwhile is
    // picked up as soon as that is over.
    if (!ticksAllowed() || !m_tmrFile.isActive() || m_pipeline->isBusy()) {
        if (cause == CommandFilePipeline::TickCause::FolderEvent)
            m_pickUpWanted = true;
        return;
    }
    m_pickUpWanted = false;
    m_tmrFile.stop();
    // A close from outside stops after the current file; a "STOP" line lets the other files
    // of the round go first.
    m_pipeline->runTick([this] { return m_closing >= Closing::PendingFromOutside; }, cause,
                        [this] { return m_closing >= Closing::Queued; });
    if (ticksAllowed()) {
        m_tmrFile.start();
        pickUpIfWanted();
    }
    shutDownIfWanted();
}

void DriverServer::raiseClosing(Closing level)
{
    m_closing = std::max(m_closing, level);
}

void DriverServer::requestShutdown(Origin origin)
{
    const bool fromOutside = origin == Origin::Outside;
    if (m_state == State::Done)
        return;
    if (m_state == State::ShuttingDown) {
        // Asked again while "Stop.txt" is being sent: stop waiting for the register.
        if (fromOutside)
            m_pipeline->waits().interrupt();
        return;
    }
    // A close that comes while a file is being sent (events are served while the register
    // waits) or while one of our dialogs is open is carried out when that work is done.
    if (m_state != State::Running || isWorking()) {
        raiseClosing(fromOutside ? Closing::PendingFromOutside : Closing::Pending);
        // A close from outside (SIGTERM, the close box) must not wait for a register that has
        // stopped answering or a cover that stays open: the current line is given up.
        if (fromOutside && m_pipeline->isBusy()) {
            raiseClosing(Closing::Aborting);
            m_pipeline->waits().interrupt();
        }
        // An open dialog of ours is closed as if cancelled, so the shut-down is not held up
        // by a window nobody may be looking at; so is a message of the start-up (another
        // instance runs, the port does not open), which then ends the program.
        if (m_state == State::SettingsOpen || m_state == State::DocumentOpen ||
            (fromOutside && m_state == State::Starting))
            m_view->closeModalWindows();
        return;
    }
    shutDown();
}

void DriverServer::shutDownIfWanted()
{
    if (m_closing >= Closing::Pending && m_state == State::Running && !isWorking())
        shutDown();
}

void DriverServer::shutDown()
{
    m_state = State::ShuttingDown;
    emit shutDownBegins();
    m_closing = Closing::None;
    m_pipeline->waits().resume();
    m_tmrFile.stop();
    m_pipeline->ProcessCommandFile(stopFilePath(), false);
    m_driver.ClosePort();
    m_view->removeTrayIcon();
    m_state = State::Done;
    m_view->runEnded();
    emit ended(0);
}

void DriverServer::endAtOnce(int status)
{
    // No shut-down sequence: the port is not open. The icon goes, so none is left behind.
    m_tmrFile.stop();
    m_view->removeTrayIcon();
    m_state = State::Done;
    m_view->runEnded();
    emit ended(status);
}

bool DriverServer::beginSettings()
{
    if (m_state != State::Running || isWorking())
        return false;
    m_tmrFile.stop();
    m_driver.ClosePort();
    m_state = State::SettingsOpen;
    return true;
}

void DriverServer::endSettings(const Settings& edited)
{
    const QString portThatWorked = m_settings.Port;
    m_settings = edited;
    m_state = State::Running;
    m_view->applyLanguage(m_settings.languageOffset());
    if (!openPort()) {
        // The program ends, but the settings file must not keep a port that can never start.
        if (m_settings.Port != portThatWorked) {
            Settings restored = m_settings;
            restored.Port = portThatWorked;
            SettingsFile(m_programFolder).write(restored, {SettingKey::Port});
            m_pipeline->logNotice(QStringLiteral("PortRestored"), portThatWorked);
            qWarning("The settings file keeps port COM%s, which worked",
                     qPrintable(portThatWorked));
        }
        m_view->showCritical(*MessageText(MessageId::PortFailure));
        endAtOnce(kExitPortFailure);
        return;
    }
    showPortAndReadyState();
    startPolling();
    shutDownIfWanted();
}

bool DriverServer::beginDocument()
{
    if (m_state != State::Running || isWorking())
        return false;
    m_state = State::DocumentOpen;
    return true;
}

void DriverServer::endDocument(const std::optional<QString>& document)
{
    m_state = State::Running;
    if (document)
        m_pipeline->ProcessCommandFile(*document, false);
    pickUpIfWanted();
    shutDownIfWanted();
}
