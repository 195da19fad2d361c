#pragma once

#include "common/InterruptibleWait.h"
#include "documents/CommonDialog.h"
#include "pipeline/CommandFilePipeline.h"
#include "pipeline/DriverEventHandler.h"
#include "settings/Settings.h"

#include <QMainWindow>
#include <QTimer>
#include <QTranslator>
#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class SingleInstanceLock;
class TrayIcon;
class UserDialogs;

// The status window: the register's state, the last error and the last receipt, and the menu.
// It owns everything that lives for the whole run and runs start-up and shut-down.
class frmMain : public QMainWindow, public StatusDisplay
{
    Q_OBJECT
public:
    static constexpr int kExitSecondInstance = 2;
    static constexpr int kExitPortFailure = 3;

    struct Options
    {
        CommandFilePipeline::Options pipeline;
        bool trayAvailable = true;
        // Take command files as soon as they are complete, besides polling.
        bool watchInputFolder = true;
        // Shared with the driver, whose waits a shut-down must cut short too.
        InterruptibleWait* waits = nullptr;
    };

    frmMain(QString programFolder, QString programName, RegisterDriver& driver, const Clock& clock,
            UserDialogs& dialogs, SingleInstanceLock& instanceLock, Options options);
    ~frmMain() override;

    // Start-up. 0 when the program goes on (the caller then shows the window); otherwise the
    // exit status of a program that must end at once.
    int Form_Load();
    void ApplyLanguage();
    // One tick of the polling timer.
    void tmrFile_Timer();
    // A tick started by the watcher of the input folder.
    void PickUpNow();

    const Settings& settings() const { return m_settings; }
    CommandFilePipeline& pipeline() { return *m_pipeline; }
    TrayIcon* MyTray() const { return m_tray.get(); }
    QTimer& tmrFile() { return m_tmrFile; }
    bool hasShutDown() const { return m_state == State::Done; }
    // Set when the program had to end at once (the port did not open again).
    std::optional<int> endedAtOnce() const { return m_endedAtOnce; }
    const QString& documentPath() const { return DocumentPath; }
    const CommonDialog& commonDialog() const { return CDialog; }
    QString startFilePath() const;
    QString stopFilePath() const;

    // What the pipeline and the driver events show.
    QString stateText() const override;
    void setStateText(const QString& text) override;
    QString errorText() const override;
    void setErrorText(const QString& text) override;
    void setTrayPicture(TrayPicture picture) override;
    void setTrayToolTip(const QString& text) override;
    void setLastReceipt(const QString& time, const QString& number) override;
    void showAndRaise() override;
    void requestClose() override;

public slots:
    void MyTray_DoubleClick(int button, int shift);
    // Settings dialog and re-apply sequence.
    void MNU_FILE_PERSONALIZZA_Click();
    // Send a configuration document after showing it in the editor.
    void MNU_FILE_INVIA_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum class State { Created, Starting, Running, ShuttingDown, Done };

    void buildControls();
    void buildMenu();
    void Form_Unload();
    // Opens the register's port; a port that does not open is named on standard error.
    bool openPort();
    void showPortAndReadyState();
    void startPolling();
    void closeIfRequestedWhileBusy();
    void runTick(CommandFilePipeline::TickCause cause);
    void pickUpIfWanted();
    bool isWorking() const;
    void endAtOnce(int status);
    // Steps of File > Invia up to the editor; the document to send, or nothing.
    std::optional<QString> chooseAndEditDocument();

    QString m_programFolder;
    QString m_programName;
    RegisterDriver& m_driver;
    const Clock& m_clock;
    UserDialogs& m_dialogs;
    SingleInstanceLock& m_instanceLock;
    Options m_options;

    Settings m_settings;
    std::unique_ptr<CommandFilePipeline> m_pipeline;
    std::unique_ptr<DriverEventHandler> m_events;
    std::unique_ptr<TrayIcon> m_tray;
    QTimer m_tmrFile;
    // Starts a tick from the event loop when the watcher has news.
    QTimer m_tmrPickUp;
    // A folder event came when no tick could run.
    bool m_pickUpWanted = false;
    State m_state = State::Created;
    // A close came while work was under way and waits for it.
    bool m_closePending = false;
    // A close has been asked for and is queued; no new file is started meanwhile.
    bool m_closeRequested = false;
    // The close being handled is our own (a "STOP" line), not one from outside.
    bool m_ownClose = false;
    // A close from outside came during a send: waits for the register are given up.
    bool m_abortRequested = false;
    // The close waiting for the work came from outside: no further file is started.
    bool m_closeFromOutside = false;
    // Modal windows of ours that are open (settings, document, editor).
    int m_modalDepth = 0;
    std::optional<int> m_endedAtOnce;
    CommonDialog CDialog;
    QString DocumentPath;
    QTranslator m_qtTranslator;

    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLabel* lblTitCol[4] = {};
    QLabel* lblStato = nullptr;
    QLabel* lblErrore = nullptr;
    QLabel* lblOra = nullptr;
    QLabel* lblNumero = nullptr;
    QLabel* imgErr = nullptr;
    QLabel* imgWarn = nullptr;
    QMenu* MNU_FILE = nullptr;
    QAction* MNU_FILE_PERSONALIZZA = nullptr;
    QAction* MNU_FILE_INVIA = nullptr;
    QAction* MNU_FILE_SEP = nullptr;
    QAction* MNU_FILE_ESCI = nullptr;
    QAction* mnuNascondi = nullptr;
};
