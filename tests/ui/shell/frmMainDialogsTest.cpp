#include "support/ScriptedDialogs.h"
#include "support/ServerFixture.h"
#include "support/WidgetText.h"
#include "ui/documents/frmEdit.h"
#include "ui/settings_dialog/frmSetUp.h"
#include "ui/shell/frmMain.h"
#include "ui/tray/TrayIcon.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

class frmMainDialogsTest : public ::testing::Test, public ServerFixture
{
protected:
    frmMainDialogsTest() : ServerFixture({false, true})
    {
        frmMain::Options options;
        options.trayAvailable = false;
        window = std::make_unique<frmMain>(*server, dialogs, options);
        EXPECT_EQ(window->Form_Load(), 0);
        driver.sent.clear();
    }
    QString caption(const char* name) { return controlText(window.get(), name); }

    ScriptedDialogs dialogs;
    std::unique_ptr<frmMain> window;
};

} // namespace

TEST_F(frmMainDialogsTest, SettingsAreReappliedAfterOk)
{
    server->status().fileFailed(17); // "Errore generico"
    dialogs.windowActions.push_back([this](QDialog& d) {
        // While the dialog is open, polling is off and the port closed.
        EXPECT_FALSE(pollTimer().isActive());
        EXPECT_EQ(driver.closeCount, 1);
        d.findChild<QComboBox*>("cmbPorta")->setCurrentIndex(2);
        d.findChild<QComboBox*>("cmbLingua")->setCurrentIndex(1);
        d.findChild<QComboBox*>("cmbFrequenza")->setCurrentIndex(9);
        d.findChild<QPushButton*>("cmdOk")->click();
    });
    window->findChild<QAction*>("MNU_FILE_PERSONALIZZA")->trigger();
    EXPECT_EQ(dialogs.execCount, 1);
    EXPECT_EQ(driver.openedPorts, QStringList({"1", "3"}));
    EXPECT_EQ(driver.preOpenFlags, QList<bool>({false, false}));
    EXPECT_EQ(caption("Frame1"), "Cash Register QUORIN on COM3");
    EXPECT_EQ(caption("lblStato"), "Idle");
    EXPECT_EQ(caption("mnuNascondi"), "Hide");
    EXPECT_EQ(caption("lblErrore"), "Errore generico"); // keeps its old language
    EXPECT_TRUE(pollTimer().isActive());
    EXPECT_EQ(pollTimer().interval(), 30000);
    EXPECT_EQ(SettingsFile(dir.path()).load().Port, "3");
}

TEST_F(frmMainDialogsTest, AnnullaStillReopensThePort)
{
    server->status().registerReported(11); // the cover is open
    window->findChild<QAction*>("MNU_FILE_PERSONALIZZA")->trigger();
    EXPECT_EQ(driver.closeCount, 1);
    EXPECT_EQ(driver.openedPorts, QStringList({"1", "1"}));
    EXPECT_EQ(caption("lblStato"), QStringLiteral("La stampante è pronta"));
    EXPECT_TRUE(pollTimer().isActive());
    EXPECT_FALSE(fileExists(dir.file("ZEZOVURADUR.INI")));
}

TEST_F(frmMainDialogsTest, PortThatDoesNotReopenEndsAtOnce)
{
    AllowQtWarnings named("Port COM1 does not open (error 203)");
    driver.openResult = 203;
    window->findChild<QAction*>("MNU_FILE_PERSONALIZZA")->trigger();
    EXPECT_EQ(named.seen(), 1);
    EXPECT_EQ(endedWith, DriverServer::kExitPortFailure);
    EXPECT_TRUE(
        dialogs.messages.last().endsWith("Impossibile caricare il programma gestione cassa."));
    EXPECT_TRUE(driver.sent.empty()); // no Stop.txt
    EXPECT_FALSE(pollTimer().isActive());
    EXPECT_EQ(window->findChild<TrayIcon*>("MyTray"), nullptr);
}

TEST_F(frmMainDialogsTest, CancelledOpenDialogSendsNothing)
{
    window->findChild<QAction*>("MNU_FILE_INVIA")->trigger();
    window->findChild<QAction*>("MNU_FILE_INVIA")->trigger();
    EXPECT_EQ(readBytes(in("Configurazione.orvek")), QByteArray("\r\n\r\n"));
    ASSERT_EQ(dialogs.fileDialogs.size(), 2);
    const CommonDialog& d = dialogs.fileDialogs[0];
    EXPECT_EQ(d.DialogTitle, "Apri documento configurazione registratore");
    EXPECT_EQ(d.Filter, "File di configurazione|*.orvek|File di testo|*.txt");
    EXPECT_EQ(d.FilterIndex, 1);
    EXPECT_EQ(d.InitDir, in("")) << "it opens where the default document lives";
    EXPECT_EQ(dialogs.execCount, 0);
    EXPECT_TRUE(driver.sent.empty());
}

TEST_F(frmMainDialogsTest, DocumentIsSentAsItIsOnDiskAndStays)
{
    const QString doc = dir.file("Cassa.orvek");
    writeBytes(doc, "=C1\r\n=C2\r\n");
    driver.answer("=C2", {{17, 0}});
    dialogs.openNames = {doc};
    dialogs.windowActions.push_back(
        [](QDialog& d) { d.findChild<QPlainTextEdit*>("txtEdit")->insertPlainText("LOST"); });
    dialogs.answers = {UserDialogs::Answer::No};
    window->findChild<QAction*>("MNU_FILE_INVIA")->trigger();
    EXPECT_EQ(driver.sentLines(), QStringList({"=C1", "=C2"}));
    EXPECT_EQ(driver.sent[1].mode, 0);
    EXPECT_TRUE(fileExists(doc));
    EXPECT_EQ(readBytes(dir.file("Cassa.KO")),
              QByteArray("Error=17;Errore generico;Row 2;=C2\r\n"));
    // The same document is proposed next.
    window->findChild<QAction*>("MNU_FILE_INVIA")->trigger();
    EXPECT_EQ(dialogs.fileDialogs.last().FileName, doc);
}

TEST_F(frmMainDialogsTest, ADocumentThatDoesNotExistIsSaidSoAndNothingIsSent)
{
    dialogs.openNames = {dir.file("Nessuno.orvek")};
    window->findChild<QAction*>("MNU_FILE_INVIA")->trigger();
    ASSERT_FALSE(dialogs.messages.isEmpty());
    EXPECT_TRUE(dialogs.messages.last().contains("Nessuno.orvek non esiste"))
        << dialogs.messages.last().toStdString();
    EXPECT_EQ(dialogs.execCount, 0);
    EXPECT_TRUE(driver.sent.empty());
}

TEST_F(frmMainDialogsTest, DocumentSavedUnderANewNameIsSentAndProposedNext)
{
    const QString doc = dir.file("A.orvek");
    const QString copy = dir.file("B.orvek");
    writeBytes(doc, "=X\r\n");
    dialogs.openNames = {doc, std::nullopt};
    dialogs.windowActions.push_back(
        [](QDialog& d) { d.findChild<QPlainTextEdit*>("txtEdit")->appendPlainText("=Y"); });
    dialogs.answers = {UserDialogs::Answer::Yes};
    dialogs.saveNames = {copy};
    window->findChild<QAction*>("MNU_FILE_INVIA")->trigger();
    EXPECT_EQ(driver.sentLines(), QStringList({"=X", "=Y"}));
    EXPECT_TRUE(fileExists(dir.file("B.OK"))); // its results lie beside the copy
    window->findChild<QAction*>("MNU_FILE_INVIA")->trigger();
    EXPECT_EQ(dialogs.fileDialogs.last().FileName, copy);
}

TEST_F(frmMainDialogsTest, PollingGoesOnWhileTheEditorIsOpen)
{
    const QString doc = dir.file("A.orvek");
    writeBytes(doc, "=DOC\r\n");
    dialogs.openNames = {doc};
    dialogs.windowActions.push_back([this](QDialog&) {
        EXPECT_TRUE(pollTimer().isActive());
        writeBytes(in("F.TXT"), "FILE\r\n");
        tick();
        window->close(); // a close meanwhile waits for the command to end
        EXPECT_FALSE(done());
    });
    window->findChild<QAction*>("MNU_FILE_INVIA")->trigger();
    EXPECT_TRUE(done());
    EXPECT_EQ(driver.sentLines(), QStringList({"FILE", "=DOC"}));
}

TEST_F(frmMainDialogsTest, CloseWhileTheSettingsAreOpenCancelsThemAndShutsDown)
{
    dialogs.closeLeftOpen = false;
    dialogs.windowActions.push_back([this](QDialog& d) {
        d.findChild<QComboBox*>("cmbPorta")->setCurrentIndex(3);
        window->close(); // as SIGTERM does
        EXPECT_FALSE(done());
        QCoreApplication::processEvents();
        EXPECT_FALSE(d.isVisible());
    });
    window->findChild<QAction*>("MNU_FILE_PERSONALIZZA")->trigger();
    EXPECT_TRUE(done());
    EXPECT_EQ(driver.openedPorts, QStringList({"1", "1"})); // cancelled: the old port
    EXPECT_EQ(driver.closeCount, 2);
    EXPECT_FALSE(fileExists(dir.file("ZEZOVURADUR.INI")));
}

TEST_F(frmMainDialogsTest, FileArrivingWhileTheSettingsAreOpenIsTakenRightAfter)
{
    dialogs.windowActions.push_back([this](QDialog&) {
        writeBytes(in("DURING.TXT"), "DURING\r\n");
        // Events flow meanwhile, but nothing is sent with the port closed.
        serveEventsFor(300);
        EXPECT_TRUE(driver.sent.empty());
    });
    window->findChild<QAction*>("MNU_FILE_PERSONALIZZA")->trigger();
    // Taken by the pick-up after the dialog, not by the polling timer (put off for an hour).
    pollTimer().start(3600 * 1000);
    EXPECT_TRUE(serveEventsUntil([this] { return !driver.sent.empty(); }));
    EXPECT_EQ(driver.sentLines(), QStringList({"DURING"}));
}

TEST_F(frmMainDialogsTest, NoTickWhileADocumentIsBeingSent)
{
    const QString doc = dir.file("Cassa.orvek");
    writeBytes(doc, "=C1\r\n=C2\r\n");
    writeBytes(in("F.TXT"), "FILE\r\n");
    dialogs.openNames = {doc};
    dialogs.answers = {UserDialogs::Answer::No};
    // The cover is open for the document's first line; the timer fires during the wait.
    driver.answer("=C1", {{574, 581}});
    driver.onSend = [this](qint32, const QString& line) {
        if (line == "=C1")
            tick();
    };
    window->findChild<QAction*>("MNU_FILE_INVIA")->trigger();
    EXPECT_EQ(driver.sentLines(), QStringList({"=C1", "=C1", "=C2"}));
    driver.onSend = nullptr;
    tick();
    EXPECT_EQ(driver.sentLines(), QStringList({"=C1", "=C1", "=C2", "FILE"}));
}

TEST_F(frmMainDialogsTest, ChosenPortThatDoesNotOpenIsNotLeftInTheSettings)
{
    AllowQtWarnings named("Port COM3 does not open"), kept("keeps port COM1");
    dialogs.windowActions.push_back([this](QDialog& d) {
        d.findChild<QComboBox*>("cmbPorta")->setCurrentIndex(2);
        d.findChild<QPushButton*>("cmdOk")->click();
        driver.openResult = 203;
    });
    window->findChild<QAction*>("MNU_FILE_PERSONALIZZA")->trigger();
    EXPECT_EQ(endedWith, DriverServer::kExitPortFailure);
    EXPECT_EQ(SettingsFile(dir.path()).load().Port, "1"); // the next start works
    EXPECT_TRUE(readBytes(in("QuorinDriverServer.LOG")).contains(";PortRestored=1\r\n"));
    EXPECT_EQ(named.seen(), 1);
    EXPECT_EQ(kept.seen(), 1);
}

TEST_F(frmMainDialogsTest, WithoutANotificationAreaHideMinimises)
{
    window->show();
    window->findChild<QAction*>("mnuNascondi")->trigger();
    // Hidden, it could never come back: there is no icon to double-click.
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isMinimized());
}
