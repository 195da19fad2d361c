#include "frmMain.h"

#include "common/InterruptibleWait.h"
#include "documents/DocumentText.h"
#include "messages/LanguageCaptions.h"
#include "messages/MessageCatalogue.h"
#include "messages/MessageIds.h"
#include "platform/SingleInstanceLock.h"
#include "settings/PrivateProfileFile.h"
#include "ui/documents/frmEdit.h"
#include "ui/settings_dialog/frmSetUp.h"
#include "ui/tray/TrayIcon.h"
#include "ui/widgets/FitText.h"
#include "ui/widgets/ModMain.h"
#include "ui/widgets/Pictures.h"
#include "ui/widgets/Twips.h"
#include "ui/widgets/UserDialogs.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

namespace {

const QString kWindowCaption = QStringLiteral("Quorin Driver Server - ORVEK S.P.A.");

// Ends the hourglass whichever way start-up ends.
struct WaitCursor
{
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
};

} // namespace

frmMain::frmMain(QString programFolder, QString programName, RegisterDriver& driver,
                 const Clock& clock, UserDialogs& dialogs, SingleInstanceLock& instanceLock,
                 Options options)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_programFolder(std::move(programFolder)), m_programName(std::move(programName)),
      m_driver(driver), m_clock(clock), m_dialogs(dialogs), m_instanceLock(instanceLock),
      m_options(options)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kWindowCaption);
    setWindowIcon(programIcon());
    m_driver.setObjectName(QStringLiteral("OrvekQuorin"));
    m_tmrFile.setObjectName(QStringLiteral("tmrFile"));
    m_tmrFile.setInterval(0);
    connect(&m_tmrFile, &QTimer::timeout, this, &frmMain::tmrFile_Timer);

    buildControls();
    buildMenu();

    m_pipeline = std::make_unique<CommandFilePipeline>(
        m_settings, m_driver, *this, m_clock, m_programName, m_options.pipeline, m_options.waits);
    m_pipeline->setAbortCheck([this] { return m_abortRequested; });
    if (m_options.watchInputFolder) {
        m_pipeline->setFolderWatcher(createFolderWatcher(&InputFolderScanner::isCommandFileName));
        m_tmrPickUp.setSingleShot(true);
        m_tmrPickUp.setInterval(0);
        connect(m_pipeline->folderWatcher(), &FolderWatcher::eventsPending, &m_tmrPickUp,
                qOverload<>(&QTimer::start));
        connect(&m_tmrPickUp, &QTimer::timeout, this, &frmMain::PickUpNow);
    }
    m_events = std::make_unique<DriverEventHandler>(
        m_settings, *this, [this](const QString& text) { m_pipeline->WriteDumpLine(text); });
    connect(&m_driver, &RegisterDriver::StatusUpdate, this,
            [this](qint32 status) { m_events->StatusUpdate(status); });
    connect(&m_driver, &RegisterDriver::DumpData, this,
            [this](qint32 unused, qint32 count, const QString& text) {
                m_events->DumpData(unused, count, text);
            });
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    const Twips tw(this);
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(tw.px(4470), tw.px(2760));
    setCentralWidget(client);
    // The layout was drawn for a small 8-point sans-serif; larger fonts would clip the titles.
    QFont small = client->font();
    small.setPointSizeF(8);
    client->setFont(small);

    QFont bold(QStringLiteral("Sans Serif"));
    bold.setStyleHint(QFont::SansSerif);
    bold.setPointSizeF(10);
    bold.setBold(true);

    auto label = [&](QWidget* parent, const char* name, const QString& text, QRect place) {
        auto* l = new QLabel(text, parent);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(place);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return l;
    };

    Frame1 = new QGroupBox(QStringLiteral("Quorin "), client);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(tw.rect(120, 0, 3735, 1695));
    lblTitCol[1] =
        label(Frame1, "lblTitCol_1", QStringLiteral("Stato: "), tw.rect(120, 285, 570, 255));
    lblStato = label(Frame1, "lblStato", QString(), tw.rect(750, 240, 2790, 615));
    lblTitCol[0] =
        label(Frame1, "lblTitCol_0", QStringLiteral("Errore: "), tw.rect(120, 1005, 570, 255));
    lblErrore = label(Frame1, "lblErrore", QString(), tw.rect(750, 960, 2790, 615));
    for (QLabel* l : {lblStato, lblErrore}) {
        l->setFont(bold);
        l->setWordWrap(true);
    }

    Frame2 = new QGroupBox(QStringLiteral("Ultimo Scontrino"), client);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setGeometry(tw.rect(120, 1800, 3735, 855));
    lblTitCol[3] =
        label(Frame2, "lblTitCol_3", QStringLiteral("Ora "), tw.rect(1290, 220, 1050, 255));
    lblOra = label(Frame2, "lblOra", QString(), tw.rect(1230, 480, 1110, 255));
    lblTitCol[2] =
        label(Frame2, "lblTitCol_2", QStringLiteral("Numero "), tw.rect(2580, 220, 1050, 255));
    lblNumero = label(Frame2, "lblNumero", QString(), tw.rect(2520, 480, 1110, 255));

    // Never shown: their pictures go on the notification-area icon.
    imgErr = label(client, "imgErr", QString(), tw.rect(3000, 2040, 480, 480));
    imgErr->setPixmap(errorPicture().pixmap(32, 32));
    imgErr->hide();
    imgWarn = label(client, "imgWarn", QString(), tw.rect(3360, 2040, 480, 480));
    imgWarn->setPixmap(warningPicture().pixmap(32, 32));
    imgWarn->hide();
}

void frmMain::buildMenu()
{
    MNU_FILE = menuBar()->addMenu(QStringLiteral("&File"));
    MNU_FILE->setObjectName(QStringLiteral("MNU_FILE"));
    MNU_FILE_PERSONALIZZA = MNU_FILE->addAction(QStringLiteral("&Personalizza..."));
    MNU_FILE_PERSONALIZZA->setObjectName(QStringLiteral("MNU_FILE_PERSONALIZZA"));
    MNU_FILE_INVIA = MNU_FILE->addAction(QStringLiteral("&Invia..."));
    MNU_FILE_INVIA->setObjectName(QStringLiteral("MNU_FILE_INVIA"));
    connect(MNU_FILE_PERSONALIZZA, &QAction::triggered, this,
            &frmMain::MNU_FILE_PERSONALIZZA_Click);
    connect(MNU_FILE_INVIA, &QAction::triggered, this, &frmMain::MNU_FILE_INVIA_Click);
    // While a file is being sent, events are served (the register may be waiting for its
    // cover): the commands that would use the register meanwhile are greyed out.
    connect(MNU_FILE, &QMenu::aboutToShow, this, [this] {
        const bool free = !isWorking() && m_state == State::Running;
        MNU_FILE_PERSONALIZZA->setEnabled(free);
        MNU_FILE_INVIA->setEnabled(free);
    });
    MNU_FILE_SEP = MNU_FILE->addSeparator();
    MNU_FILE_SEP->setObjectName(QStringLiteral("MNU_FILE_SEP"));
    MNU_FILE_ESCI = MNU_FILE->addAction(QStringLiteral("&Esci"));
    MNU_FILE_ESCI->setObjectName(QStringLiteral("MNU_FILE_ESCI"));
    connect(MNU_FILE_ESCI, &QAction::triggered, this, &QWidget::close);

    mnuNascondi = menuBar()->addAction(QStringLiteral("&Nascondi"));
    mnuNascondi->setObjectName(QStringLiteral("mnuNascondi"));
    connect(mnuNascondi, &QAction::triggered, this, [this] {
        // Without a notification area a hidden window could never be shown again: it is
        // minimised instead.
        if (m_tray && m_tray->systemTrayIcon())
            hide();
        else
            showMinimized();
    });

    const Twips tw(this);
    setFixedSize(tw.px(4470), tw.px(2760) + menuBar()->sizeHint().height());
}

QString frmMain::startFilePath() const
{
    return pathInFolder(m_programFolder, QStringLiteral("Avvio.txt"));
}

QString frmMain::stopFilePath() const
{
    return pathInFolder(m_programFolder, QStringLiteral("Stop.txt"));
}

int frmMain::Form_Load()
{
    m_state = State::Starting;
    WaitCursor hourglass;

    // Ids 550 and 551 are looked up without the language offset: the settings are not read yet
    // or may be what is wrong.
    if (!m_instanceLock.tryLock()) {
        m_dialogs.critical(nullptr, kProgramTitle, *MessageText(MessageId::SecondInstance));
        return kExitSecondInstance;
    }

    m_settings = LoadSettings(m_programFolder);
    ApplyLanguage();

    if (!openPort()) {
        m_dialogs.critical(nullptr, kProgramTitle, *MessageText(MessageId::PortFailure));
        return kExitPortFailure;
    }
    showPortAndReadyState();

    m_tray = std::make_unique<TrayIcon>(m_options.trayAvailable);
    m_tray->setObjectName(QStringLiteral("MyTray"));
    connect(m_tray.get(), &TrayIcon::DoubleClick, this, &frmMain::MyTray_DoubleClick);
    m_tray->setI_Icon(windowIcon());
    m_tray->setI_ToolTipText(kProgramTitle);
    m_tray->I_Show();

    m_pipeline->recoverInterruptedFile();
    m_pipeline->ProcessCommandFile(startFilePath(), false);

    startPolling();
    m_state = State::Running;
    // Files already waiting go right after "Avvio.txt", like files that arrive later.
    QMetaObject::invokeMethod(this, &frmMain::tmrFile_Timer, Qt::QueuedConnection);
    // A close asked for while "Avvio.txt" was being sent is handled once start-up is over.
    if (m_closePending) {
        m_closePending = false;
        requestClose();
    }
    return 0;
}

bool frmMain::openPort()
{
    m_driver.setPreOpenFlag(false);
    QString port = m_settings.Port;
    const qint32 result = m_driver.OpenPort(port);
    if (result != 0)
        qWarning("Port COM%s does not open (error %d)", qPrintable(m_settings.Port), result);
    return result == 0;
}

void frmMain::showPortAndReadyState()
{
    const int offset = m_settings.languageOffset();
    Frame1->setTitle(LocalisedText(offset, MessageId::RegisterOnPort) + QStringLiteral("COM") +
                     m_settings.Port);
    lblStato->setText(LocalisedText(offset, MessageId::Ready));
}

void frmMain::startPolling()
{
    // Watched before the timer's first listing, so nothing slips between the two.
    m_pipeline->watchInputFolder();
    m_tmrFile.setInterval(pollingIntervalMs(m_settings.Frequence));
    m_tmrFile.start();
    pickUpIfWanted();
}

void frmMain::pickUpIfWanted()
{
    if (m_pickUpWanted)
        m_tmrPickUp.start();
}

void frmMain::ApplyLanguage()
{
    const int offset = m_settings.languageOffset();
    // Qt's own dialogs (file choosers, standard buttons) speak the chosen language too.
    QCoreApplication::removeTranslator(&m_qtTranslator);
    if (offset == 0 && m_qtTranslator.load(QLocale(QLocale::Italian), QStringLiteral("qtbase"),
                                           QStringLiteral("_"),
                                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&m_qtTranslator);
    for (const CaptionId& caption : mainWindowCaptions()) {
        const QString text = LocalisedText(offset, caption.id);
        QObject* control = findChild<QObject*>(caption.objectName);
        if (auto* action = qobject_cast<QAction*>(control))
            action->setText(text);
        else if (auto* frame = qobject_cast<QGroupBox*>(control))
            frame->setTitle(text);
        else if (auto* label = qobject_cast<QLabel*>(control)) {
            label->setText(text);
            fitLabelText(label);
        }
    }
}

void frmMain::tmrFile_Timer()
{
    runTick(CommandFilePipeline::TickCause::Timer);
}

void frmMain::PickUpNow()
{
    runTick(CommandFilePipeline::TickCause::FolderEvent);
}

void frmMain::runTick(CommandFilePipeline::TickCause cause)
{
    // Ticks run only while the timer runs: never inside another tick or a document being sent,
    // nor while the settings dialog has the port closed. A file that arrives meanwhile is
    // picked up as soon as that is over.
    if (m_state != State::Running || !m_tmrFile.isActive() || m_pipeline->isBusy()) {
        if (cause == CommandFilePipeline::TickCause::FolderEvent)
            m_pickUpWanted = true;
        return;
    }
    m_pickUpWanted = false;
    m_tmrFile.stop();
    // A close from outside stops after the current file; a "STOP" line lets the other files
    // of the round go first.
    m_pipeline->runTick([this] { return m_abortRequested || m_closeFromOutside; }, cause,
                        [this] { return m_closePending || m_closeRequested; });
    if (m_state == State::Running) {
        m_tmrFile.start();
        pickUpIfWanted();
    }
    closeIfRequestedWhileBusy();
}

bool frmMain::isWorking() const
{
    return m_pipeline->isBusy() || m_modalDepth > 0;
}

void frmMain::closeIfRequestedWhileBusy()
{
    if (m_closePending && !isWorking()) {
        m_closePending = false;
        close();
    }
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (m_state == State::Done) {
        event->accept();
        return;
    }
    event->ignore();
    const bool fromOutside = !m_ownClose;
    if (m_state == State::ShuttingDown) {
        // Asked again while "Stop.txt" is being sent: stop waiting for the register.
        if (fromOutside)
            m_pipeline->waits().interrupt();
        return;
    }
    // A close that comes while a file is being sent (events are served while the register
    // waits) or while one of our dialogs is open is carried out when that work is done.
    if (m_state != State::Running || isWorking()) {
        m_closePending = true;
        m_closeFromOutside |= fromOutside;
        // A close from outside (SIGTERM, the close box) must not wait for a register that has
        // stopped answering or a cover that stays open: the current line is given up.
        if (fromOutside && m_pipeline->isBusy()) {
            m_abortRequested = true;
            m_pipeline->waits().interrupt();
        }
        // An open dialog of ours is closed as if cancelled, so the shut-down is not held up
        // by a window nobody may be looking at; so is a message of the start-up (another
        // instance runs, the port does not open), which then ends the program.
        if (m_modalDepth > 0 || (fromOutside && m_state == State::Starting)) {
            if (QWidget* modal = QApplication::activeModalWidget())
                QMetaObject::invokeMethod(modal, &QWidget::close, Qt::QueuedConnection);
        }
        return;
    }
    m_state = State::ShuttingDown;
    m_abortRequested = false;
    m_closeFromOutside = false;
    m_pipeline->waits().resume();
    Form_Unload();
    m_state = State::Done;
    event->accept();
    QCoreApplication::quit();
}

void frmMain::Form_Unload()
{
    m_tmrFile.stop();
    m_pipeline->ProcessCommandFile(stopFilePath(), false);
    m_driver.ClosePort();
    if (m_tray)
        m_tray->I_Hide();
    m_tray.reset();
}

void frmMain::MyTray_DoubleClick(int, int)
{
    show();
    raise();
    activateWindow();
}

QString frmMain::stateText() const
{
    return lblStato->text();
}

void frmMain::setStateText(const QString& text)
{
    lblStato->setText(text);
}

QString frmMain::errorText() const
{
    return lblErrore->text();
}

void frmMain::setErrorText(const QString& text)
{
    const bool cleared = text.isEmpty() && !lblErrore->text().isEmpty();
    lblErrore->setText(text);
    // Long messages (573, 584) wrap in the frame at a smaller size rather than lose lines.
    fitWrappedLabelText(lblErrore, lblStato->font());
    if (!cleared)
        return;
    // The icon no longer shows an error that the window has cleared, unless the register still
    // reports a problem (cover open, paper out, busy), which it then shows as it did.
    const int offset = m_settings.languageOffset();
    const QString state = lblStato->text();
    if (state == LocalisedText(offset, MessageId::CoverOpen) ||
        state == LocalisedText(offset, MessageId::PaperOut)) {
        setTrayPicture(TrayPicture::Error);
        setTrayToolTip(state);
    } else if (state == LocalisedText(offset, MessageId::Busy)) {
        setTrayPicture(TrayPicture::Warning);
        setTrayToolTip(state);
    } else {
        setTrayPicture(TrayPicture::Normal);
        setTrayToolTip(kProgramTitle);
    }
}

void frmMain::setTrayPicture(TrayPicture picture)
{
    if (!m_tray)
        return;
    switch (picture) {
    case TrayPicture::Normal:
        m_tray->setI_Icon(windowIcon());
        break;
    case TrayPicture::Error:
        m_tray->setI_Icon(errorPicture());
        break;
    case TrayPicture::Warning:
        m_tray->setI_Icon(warningPicture());
        break;
    }
}

void frmMain::setTrayToolTip(const QString& text)
{
    if (m_tray)
        m_tray->setI_ToolTipText(text);
}

void frmMain::setLastReceipt(const QString& time, const QString& number)
{
    lblOra->setText(time);
    lblNumero->setText(number);
}

void frmMain::showAndRaise()
{
    show();
    SetTopMost(this, true);
}

void frmMain::requestClose()
{
    m_closeRequested = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_ownClose = true;
            close();
            m_ownClose = false;
        },
        Qt::QueuedConnection);
}

void frmMain::endAtOnce(int status)
{
    // No shut-down sequence: the port is not open. The icon goes, so none is left behind.
    m_tmrFile.stop();
    if (m_tray)
        m_tray->I_Hide();
    m_tray.reset();
    m_state = State::Done;
    m_endedAtOnce = status;
    hide();
    QCoreApplication::exit(status);
}

void frmMain::MNU_FILE_PERSONALIZZA_Click()
{
    if (m_state != State::Running || isWorking())
        return;
    m_tmrFile.stop();
    m_driver.ClosePort();
    const QString portThatWorked = m_settings.Port;
    {
        ++m_modalDepth;
        frmSetUp dialog(m_settings, pathInFolder(m_programFolder, kSettingsFileName), m_dialogs);
        m_dialogs.exec(dialog);
        --m_modalDepth;
    }
    ApplyLanguage();
    if (!openPort()) {
        // The program ends, but the settings file must not keep a port that can never start.
        if (m_settings.Port != portThatWorked) {
            PrivateProfileFile(pathInFolder(m_programFolder, kSettingsFileName))
                .writeString(QStringLiteral("Parameters"), QStringLiteral("Port"), portThatWorked);
            m_pipeline->logNotice(QStringLiteral("PortRestored"), portThatWorked);
            qWarning("The settings file keeps port COM%s, which worked",
                     qPrintable(portThatWorked));
        }
        m_dialogs.critical(nullptr, kProgramTitle, *MessageText(MessageId::PortFailure));
        endAtOnce(kExitPortFailure);
        return;
    }
    showPortAndReadyState();
    startPolling();
    closeIfRequestedWhileBusy();
}

void frmMain::MNU_FILE_INVIA_Click()
{
    if (m_state != State::Running || isWorking())
        return;
    ++m_modalDepth;
    const std::optional<QString> document = chooseAndEditDocument();
    --m_modalDepth;
    // Failures up to here end the command silently.
    if (document && m_state == State::Running)
        m_pipeline->ProcessCommandFile(*document, false);
    if (m_state == State::Running)
        pickUpIfWanted();
    closeIfRequestedWhileBusy();
}

std::optional<QString> frmMain::chooseAndEditDocument()
{
    if (!appendEmptyLine(m_settings.DirectoryInput + QStringLiteral("Configurazione.orvek")))
        return std::nullopt;
    CDialog.setUpForDocuments(QStringLiteral("Apri documento configurazione registratore"));
    const auto chosen = m_dialogs.openFileName(this, CDialog);
    if (!chosen)
        return std::nullopt;
    CDialog.FileName = *chosen;
    DocumentPath = *chosen;
    {
        frmEdit editor(DocumentPath, CDialog, m_dialogs, this);
        editor.setWindowModality(Qt::ApplicationModal);
        if (!editor.Form_Load())
            return std::nullopt;
        m_dialogs.exec(editor);
    }
    // The file as it is on disk now: edits that were not saved are not sent.
    return DocumentPath;
}
