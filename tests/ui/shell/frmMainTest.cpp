#include "ui/shell/frmMain.h"
#include "messages/MessageCatalogue.h"
#include "support/ScriptedDialogs.h"
#include "support/ServerFixture.h"
#include "support/WidgetText.h"
#include "ui/tray/TrayIcon.h"
#include "ui/widgets/UserDialogs.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QPushButton>

namespace {

class frmMainTest : public ::testing::Test, public ServerFixture
{
protected:
    frmMainTest() : ServerFixture({true, true}) {}
    void settingsFile(const QByteArray& parameters)
    {
        writeBytes(dir.file("ZEZOVURADUR.INI"), "[Parameters]\r\n" + parameters);
    }
    frmMain& window()
    {
        if (!m_window) {
            frmMain::Options options;
            options.trayAvailable = true;
            m_window = std::make_unique<frmMain>(*server, dialogs, options);
        }
        return *m_window;
    }
    QString text(const char* name) { return controlText(&window(), name); }
    bool topMost() { return window().windowFlags().testFlag(Qt::WindowStaysOnTopHint); }

    ScriptedDialogs dialogs;
    std::unique_ptr<frmMain> m_window;
};

} // namespace

TEST_F(frmMainTest, StartsUpInItalian)
{
    ASSERT_EQ(window().Form_Load(), 0);
    EXPECT_EQ(driver.preOpenFlags, QList<bool>({false}));
    EXPECT_EQ(driver.openedPorts, QStringList({"1"}));
    EXPECT_EQ(text("Frame1"), "Registratore di cassa QUORIN su COM1");
    EXPECT_EQ(text("lblStato"), QStringLiteral("La stampante è pronta"));
    EXPECT_EQ(text("MNU_FILE"), "&File");
    EXPECT_EQ(text("MNU_FILE_ESCI"), "Esci ");
    EXPECT_EQ(text("MNU_FILE_PERSONALIZZA"), "Personalizza... ");
    EXPECT_EQ(text("mnuNascondi"), "Nascondi");
    EXPECT_EQ(text("Frame2"), "Ultimo Scontrino ");
    EXPECT_EQ(text("lblTitCol_0"), "Errore: ");
    EXPECT_EQ(text("lblTitCol_1"), "Stato: ");
    EXPECT_EQ(text("lblTitCol_2"), "Numero ");
    EXPECT_EQ(text("lblTitCol_3"), "Ora ");
    EXPECT_EQ(window().windowTitle(), "Quorin Driver Server - ORVEK S.P.A.");
    ASSERT_NE(window().findChild<TrayIcon*>("MyTray"), nullptr);
    EXPECT_TRUE(window().findChild<TrayIcon*>("MyTray")->I_Visible());
    EXPECT_EQ(window().findChild<TrayIcon*>("MyTray")->I_ToolTipText(),
              "Quorin Server - ORVEK S.P.A.");
    EXPECT_EQ(driver.sentLines(), QStringList({"AVVIO"}));
    EXPECT_TRUE(pollTimer().isActive());
    EXPECT_EQ(pollTimer().interval(), 5000);
    EXPECT_TRUE(fileExists(dir.file("Avvio.txt")));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(frmMainTest, StartsUpInEnglishOnAnotherPort)
{
    settingsFile("Language=English\r\nPort=3\r\nFrequence=30\r\n");
    ASSERT_EQ(window().Form_Load(), 0);
    EXPECT_EQ(text("Frame1"), "Cash Register QUORIN on COM3");
    EXPECT_EQ(text("lblStato"), "Idle");
    EXPECT_EQ(text("MNU_FILE"), "&File");
    EXPECT_EQ(text("MNU_FILE_PERSONALIZZA"), "Configure...");
    EXPECT_EQ(text("MNU_FILE_INVIA"), "Send...");
    EXPECT_EQ(text("MNU_FILE_ESCI"), "Exit");
    EXPECT_EQ(text("mnuNascondi"), "Hide");
    EXPECT_EQ(text("Frame2"), "Last Ticket");
    EXPECT_EQ(text("lblTitCol_0"), "Error: ");
    EXPECT_EQ(text("lblTitCol_1"), "State: ");
    EXPECT_EQ(text("lblTitCol_2"), "Number ");
    EXPECT_EQ(text("lblTitCol_3"), "Time ");
    EXPECT_EQ(pollTimer().interval(), 30000);
}

TEST_F(frmMainTest, TheLivePageEntryIsOneMoreFileMenuEntryInTheProgramsLanguage)
{
    settingsFile("Language=English\r\n");
    ASSERT_EQ(window().Form_Load(), 0);
    auto* file = window().findChild<QMenu*>("MNU_FILE");
    ASSERT_TRUE(file);
    const auto before = file->actions();
    const QUrl page(QStringLiteral("http://127.0.0.1:8750/#token=abc"));
    window().addLivePageEntry(page);
    auto after = file->actions();
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after[2]->objectName(), "MNU_FILE_PAGINA");
    EXPECT_EQ(after[2]->text(), "Status page...");
    EXPECT_EQ(after[2]->data().toUrl(), page);
    QAction* entry = after.takeAt(2);
    EXPECT_EQ(after, before) << "nothing else of the menu changes";
    window().applyLanguage(0);
    EXPECT_EQ(entry->text(), "Pagina di stato...");
}

TEST_F(frmMainTest, PortFailureEndsAtOnceInItalian)
{
    settingsFile("Language=English\r\n");
    driver.openResult = 203;
    AllowQtWarnings named("Port COM1 does not open (error 203)");
    EXPECT_EQ(window().Form_Load(), DriverServer::kExitPortFailure);
    EXPECT_EQ(named.seen(), 1);
    EXPECT_EQ(dialogs.messages, QStringList({"Quorin Server - ORVEK S.P.A.|Impossibile caricare il "
                                             "programma gestione cassa."}));
    EXPECT_EQ(window().findChild<TrayIcon*>("MyTray"), nullptr);
    EXPECT_TRUE(driver.sent.empty());
    EXPECT_EQ(driver.closeCount, 0);
    EXPECT_FALSE(pollTimer().isActive());
}

TEST_F(frmMainTest, SecondInstanceOfTheSameFolderIsRefused)
{
    SingleInstanceLock first(dir.path());
    ASSERT_TRUE(first.tryLock());
    EXPECT_EQ(window().Form_Load(), DriverServer::kExitSecondInstance);
    EXPECT_EQ(dialogs.messages,
              QStringList({QStringLiteral(
                  "Quorin Server - ORVEK S.P.A.|Questo programma è già stato caricato.")}));
    EXPECT_TRUE(driver.openedPorts.isEmpty());
    TempFolder other;
    EXPECT_TRUE(SingleInstanceLock(other.path()).tryLock());
}

TEST_F(frmMainTest, DriverEventsShowTheState)
{
    ASSERT_EQ(window().Form_Load(), 0);
    window().hide();
    emit driver.StatusUpdate(30);
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(window().findChild<TrayIcon*>("MyTray")->I_ToolTipText(),
              QStringLiteral("La stampante è occupata"));
    emit driver.StatusUpdate(11);
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(topMost());
    EXPECT_EQ(text("lblStato"), QStringLiteral("Il coperchio è aperto"));
    EXPECT_EQ(window().findChild<TrayIcon*>("MyTray")->I_ToolTipText(),
              QStringLiteral("Il coperchio è aperto"));
    emit driver.StatusUpdate(1001);
    EXPECT_EQ(window().findChild<TrayIcon*>("MyTray")->I_ToolTipText(),
              "Quorin Server - ORVEK S.P.A.");
    EXPECT_TRUE(topMost()); // never lowered again
}

TEST_F(frmMainTest, DoubleClickOfAnyButtonShowsTheHiddenWindow)
{
    ASSERT_EQ(window().Form_Load(), 0);
    window().show();
    for (int message : {0x203, 0x206, 0x209}) {
        window().findChild<QAction*>("mnuNascondi")->trigger();
        EXPECT_FALSE(window().isVisible());
        window().findChild<TrayIcon*>("MyTray")->deliverMouseMessage(
            0x201, 0); // a single click does nothing
        window().findChild<TrayIcon*>("MyTray")->deliverMouseMessage(0x204, 0);
        EXPECT_FALSE(window().isVisible());
        window().findChild<TrayIcon*>("MyTray")->deliverMouseMessage(message, 0);
        EXPECT_TRUE(window().isVisible()) << message;
    }
    EXPECT_FALSE(done()); // hiding never ends the program
}

TEST_F(frmMainTest, FilesUpdateErrorAndLastReceipt)
{
    ASSERT_EQ(window().Form_Load(), 0);
    const QString in = server->settings().DirectoryInput;
    writeBytes(in + "BAD.TXT", "X\r\n");
    driver.answer("X", {{17, 0}});
    window().hide();
    tick();
    EXPECT_EQ(text("lblErrore"), "Errore generico");
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(topMost());
    EXPECT_EQ(window().findChild<TrayIcon*>("MyTray")->I_ToolTipText(), "Errore generico");
    writeBytes(in + "GOOD.TXT", "Y\r\n");
    tick();
    EXPECT_EQ(text("lblErrore"), "");
    EXPECT_EQ(text("lblNumero"), "42");
    EXPECT_EQ(text("lblOra"), "17:44:05");
    EXPECT_TRUE(pollTimer().isActive());
}

TEST_F(frmMainTest, ShutDownRunsExactlyOnce)
{
    ASSERT_EQ(window().Form_Load(), 0);
    driver.sent.clear();
    window().findChild<QAction*>("MNU_FILE_ESCI")->trigger();
    EXPECT_TRUE(done());
    EXPECT_EQ(driver.sentLines(), QStringList({"FERMA"}));
    EXPECT_EQ(driver.closeCount, 1);
    EXPECT_EQ(window().findChild<TrayIcon*>("MyTray"), nullptr);
    EXPECT_FALSE(pollTimer().isActive());
    window().close();
    QCoreApplication::processEvents();
    EXPECT_EQ(driver.closeCount, 1);
    EXPECT_TRUE(fileExists(dir.file("Stop.txt")));
}

TEST_F(frmMainTest, StopLineClosesAfterThePollingRound)
{
    ASSERT_EQ(window().Form_Load(), 0);
    QCoreApplication::processEvents(); // the tick right after start-up: nothing there yet
    const QString in = server->settings().DirectoryInput;
    writeBytes(in + "A.TXT", "STOP\r\nAFTER\r\n");
    writeBytes(in + "B.TXT", "NEXT\r\n");
    driver.onSend = [&](qint32, const QString& line) {
        if (line == "NEXT") // arrives during the round: the next round's, never sent
            writeBytes(in + "C.TXT", "LATE\r\n");
    };
    driver.sent.clear();
    tick();
    EXPECT_FALSE(done());
    EXPECT_EQ(driver.sentLines(), QStringList({"AFTER", "NEXT"})); // the whole round
    QCoreApplication::processEvents();
    EXPECT_TRUE(done());
    EXPECT_EQ(driver.sentLines(), QStringList({"AFTER", "NEXT", "FERMA"}));
    EXPECT_EQ(driver.closeCount, 1);
    EXPECT_TRUE(fileExists(in + "C.TXT"));
}

TEST_F(frmMainTest, FilesWaitingAtStartGoRightAfterAvvio)
{
    settingsFile("Frequence=3600\r\n");
    QDir().mkdir(dir.file("TOSEND"));
    writeBytes(dir.file("TOSEND/W.TXT"), "WAITING\r\n");
    ASSERT_EQ(window().Form_Load(), 0);
    EXPECT_TRUE(serveEventsUntil([&] { return driver.sentLines().contains("WAITING"); }));
    EXPECT_EQ(driver.sentLines(), QStringList({"AVVIO", "WAITING"}));
}

TEST_F(frmMainTest, CloseDuringASendWaitsForTheWork)
{
    ASSERT_EQ(window().Form_Load(), 0);
    const QString in = server->settings().DirectoryInput;
    writeBytes(in + "A.TXT", "ONE\r\nTWO\r\n");
    driver.onSend = [this](qint32, const QString& line) {
        if (line == "ONE")
            window().close();
    };
    writeBytes(in + "B.TXT", "LATER\r\n");
    tick();
    EXPECT_EQ(driver.sentLines(), QStringList({"AVVIO", "ONE", "TWO", "FERMA"}));
    EXPECT_TRUE(done());
}

TEST_F(frmMainTest, StopInsideTheStartFileClosesAfterStartUp)
{
    writeBytes(dir.file("Avvio.txt"), "STOP\r\n");
    ASSERT_EQ(window().Form_Load(), 0);
    EXPECT_TRUE(pollTimer().isActive());
    EXPECT_FALSE(done());
    QCoreApplication::processEvents();
    EXPECT_TRUE(done());
    EXPECT_EQ(driver.closeCount, 1);
}

TEST_F(frmMainTest, CompleteFileIsTakenWithoutWaitingForTheTimer)
{
    settingsFile("Frequence=3600\r\n");
    ASSERT_EQ(window().Form_Load(), 0);
    const QString in = server->settings().DirectoryInput;
    driver.sent.clear();
    writeBytes(in + "NOW.tmp", "NOW\r\n");
    ASSERT_TRUE(QFile::rename(in + "NOW.tmp", in + "NOW.TXT"));
    EXPECT_TRUE(serveEventsUntil([&] { return fileExists(in + "NOW.OK"); }));
    EXPECT_EQ(driver.sentLines(), QStringList({"NOW"}));
    EXPECT_FALSE(fileExists(in + "NOW.TXT"));
    EXPECT_TRUE(pollTimer().isActive());
}

TEST_F(frmMainTest, IconGoesBackWhenTheErrorIsCleared)
{
    ASSERT_EQ(window().Form_Load(), 0);
    const QString in = server->settings().DirectoryInput;
    const qint64 normal = window().findChild<TrayIcon*>("MyTray")->I_Icon().cacheKey();
    driver.answer("BAD", {{17, 0}});
    writeBytes(in + "A.TXT", "BAD\r\n");
    tick();
    EXPECT_NE(window().findChild<TrayIcon*>("MyTray")->I_Icon().cacheKey(), normal);
    EXPECT_EQ(window().findChild<TrayIcon*>("MyTray")->I_ToolTipText(), "Errore generico");
    writeBytes(in + "B.TXT", "GOOD\r\n");
    tick();
    EXPECT_EQ(text("lblErrore"), "");
    EXPECT_EQ(window().findChild<TrayIcon*>("MyTray")->I_Icon().cacheKey(), normal);
    EXPECT_EQ(window().findChild<TrayIcon*>("MyTray")->I_ToolTipText(),
              "Quorin Server - ORVEK S.P.A.");

    // While the register still reports its cover open, the icon keeps saying so.
    writeBytes(in + "C.TXT", "BAD\r\n");
    driver.answer("BAD", {{17, 0}});
    tick();
    emit driver.StatusUpdate(11);
    writeBytes(in + "D.TXT", "GOOD\r\n");
    tick();
    EXPECT_NE(window().findChild<TrayIcon*>("MyTray")->I_Icon().cacheKey(), normal);
    EXPECT_EQ(window().findChild<TrayIcon*>("MyTray")->I_ToolTipText(), text("lblStato"));
}

TEST_F(frmMainTest, LongErrorTextsFitWhole)
{
    ASSERT_EQ(window().Form_Load(), 0);
    auto* label = window().findChild<QLabel*>("lblErrore");
    const QRect place = label->geometry();
    for (const auto& [offset, id] : {std::pair{0, 573}, std::pair{1000, 584}}) {
        const QString message = LocalisedText(offset, id);
        server->status().showNotice(message);
        const QRect needed = QFontMetrics(label->font())
                                 .boundingRect(QRect(0, 0, label->width(), 100000),
                                               Qt::AlignLeft | Qt::TextWordWrap, message);
        EXPECT_LE(needed.height(), label->height()) << id;
        EXPECT_EQ(label->geometry(), place);
        EXPECT_EQ(label->toolTip(), message);
        EXPECT_EQ(window().findChild<TrayIcon*>("MyTray")->shownToolTip(),
                  window().findChild<TrayIcon*>("MyTray")->I_ToolTipText());
    }
}

TEST_F(frmMainTest, QtsOwnDialogsFollowTheLanguage)
{
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_it.qm"))
        GTEST_SKIP() << "Qt's Italian translations are not installed (qt6-translations-l10n)";
    auto cancel = [] { return QCoreApplication::translate("QPlatformTheme", "Cancel"); };
    ASSERT_EQ(window().Form_Load(), 0);
    EXPECT_EQ(cancel(), "Annulla");
    dialogs.windowActions.push_back([](QDialog& d) {
        d.findChild<QComboBox*>("cmbLingua")->setCurrentIndex(1); // English
        d.findChild<QPushButton*>("cmdOk")->click();
    });
    window().MNU_FILE_PERSONALIZZA_Click();
    EXPECT_EQ(cancel(), "Cancel");
}
