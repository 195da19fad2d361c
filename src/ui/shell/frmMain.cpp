#include "frmMain.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

#include "documents/DocumentText.h"
#include "messages/LanguageCaptions.h"
#include "messages/MessageCatalogue.h"
#include "messages/MessageIds.h"
#include "ui/documents/frmEdit.h"
#include "ui/settings_dialog/frmSetUp.h"
#include "ui/tray/TrayIcon.h"
#include "ui/widgets/Captions.h"
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

frmMain::frmMain(DriverServer& server, UserDialogs& dialogs, Options options)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_server(server), m_dialogs(dialogs), m_trayAvailable(options.trayAvailable)
{
    m_server.attachView(*this);
    connect(&m_server.status(), &StatusModel::changed, this, &frmMain::render);
    connect(&m_server.status(), &StatusModel::forwardRequested, this, &frmMain::showAndRaise);
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kWindowCaption);
    setWindowIcon(programIcon());
    buildControls();
    buildMenu();
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
        const bool free = !m_server.isWorking() && m_server.state() == DriverServer::State::Running;
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

int frmMain::Form_Load()
{
    WaitCursor hourglass;
    return m_server.start();
}

void frmMain::showCritical(const QString& text)
{
    m_dialogs.critical(this, kProgramTitle, text);
}

void frmMain::setPortTitle(const QString& text)
{
    Frame1->setTitle(text);
}

void frmMain::showTrayIcon()
{
    m_tray = std::make_unique<TrayIcon>(m_trayAvailable);
    m_tray->setObjectName(QStringLiteral("MyTray"));
    // Found by its name among the window's children, like the window's other controls.
    m_tray->setParent(this);
    connect(m_tray.get(), &TrayIcon::DoubleClick, this, &frmMain::MyTray_DoubleClick);
    m_iconPicture.reset();
    renderIcon();
    m_tray->I_Show();
}

void frmMain::removeTrayIcon()
{
    if (m_tray)
        m_tray->I_Hide();
    m_tray.reset();
}

void frmMain::addLivePageEntry(const QUrl& page)
{
    MNU_FILE_PAGINA = new QAction(MNU_FILE);
    MNU_FILE_PAGINA->setObjectName(QStringLiteral("MNU_FILE_PAGINA"));
    MNU_FILE_PAGINA->setData(page);
    MNU_FILE->insertAction(MNU_FILE_SEP, MNU_FILE_PAGINA);
    connect(MNU_FILE_PAGINA, &QAction::triggered, this,
            [page] { QDesktopServices::openUrl(page); });
    applyLanguage(m_server.settings().languageOffset());
}

void frmMain::applyLanguage(int offset)
{
    // Qt's own dialogs (file choosers, standard buttons) speak the chosen language too.
    QCoreApplication::removeTranslator(&m_qtTranslator);
    if (offset == 0 && m_qtTranslator.load(QLocale(QLocale::Italian), QStringLiteral("qtbase"),
                                           QStringLiteral("_"),
                                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&m_qtTranslator);
    applyCaptions(this, mainWindowCaptions(), offset);
    if (MNU_FILE_PAGINA)
        MNU_FILE_PAGINA->setText(offset == 0 ? QStringLiteral("Pagina di stato...")
                                             : QStringLiteral("Status page..."));
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (!hasShutDown())
        m_server.requestShutdown(DriverServer::Origin::Outside);
    // Accepted only once the run is over; until then the close waits for the work under way.
    event->setAccepted(hasShutDown());
}

void frmMain::closeModalWindows()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        QMetaObject::invokeMethod(modal, &QWidget::close, Qt::QueuedConnection);
}

void frmMain::runEnded()
{
    hide();
}

void frmMain::MyTray_DoubleClick(int, int)
{
    bringForward(this);
}

void frmMain::render()
{
    const StatusModel& status = m_server.status();
    lblStato->setText(status.stateText());
    if (lblErrore->text() != status.errorText()) {
        lblErrore->setText(status.errorText());
        // Long messages (573, 584) wrap in the frame at a smaller size rather than lose lines.
        fitWrappedLabelText(lblErrore, lblStato->font());
    }
    lblOra->setText(status.receiptTime());
    lblNumero->setText(status.receiptNumber());
    renderIcon();
}

void frmMain::renderIcon()
{
    if (!m_tray)
        return;
    const StatusModel& status = m_server.status();
    if (m_iconPicture != status.trayPicture()) {
        m_iconPicture = status.trayPicture();
        switch (*m_iconPicture) {
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
    if (m_tray->I_ToolTipText() != status.toolTip())
        m_tray->setI_ToolTipText(status.toolTip());
}

void frmMain::showAndRaise()
{
    SetTopMost(this, true);
    bringForward(this);
}

void frmMain::MNU_FILE_PERSONALIZZA_Click()
{
    if (!m_server.beginSettings())
        return;
    frmSetUp dialog(m_server.settings(), m_server.programFolder(), m_dialogs, this);
    m_dialogs.exec(dialog);
    m_server.endSettings(dialog.settings());
}

void frmMain::MNU_FILE_INVIA_Click()
{
    if (!m_server.beginDocument())
        return;
    // Failures up to the editor end the command silently.
    m_server.endDocument(chooseAndEditDocument());
}

std::optional<QString> frmMain::chooseAndEditDocument()
{
    if (!appendEmptyLine(m_server.settings().DirectoryInput +
                         QStringLiteral("Configurazione.orvek")))
        return std::nullopt;
    CDialog.setUpForDocuments(QStringLiteral("Apri documento configurazione registratore"));
    // Where the default document lives.
    CDialog.InitDir = m_server.settings().DirectoryInput;
    const auto chosen = m_dialogs.openFileName(this, CDialog);
    if (!chosen)
        return std::nullopt;
    if (!QFileInfo(*chosen).isFile()) {
        const bool english = m_server.settings().languageOffset() != 0;
        m_dialogs.critical(this, CDialog.DialogTitle,
                           (english ? QStringLiteral("The document %1 does not exist.")
                                    : QStringLiteral("Il documento %1 non esiste."))
                               .arg(QDir::toNativeSeparators(*chosen)));
        return std::nullopt;
    }
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
