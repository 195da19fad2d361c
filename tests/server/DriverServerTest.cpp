#include "server/DriverServer.h"
#include "support/ServerFixture.h"

#include <QDir>

namespace {

// Records what the server asks of its window.
class RecordingView : public ServerView
{
public:
    void showCritical(const QString& text) override { messages.append(text); }
    void applyLanguage(int offset) override { languages.append(offset); }
    void setPortTitle(const QString& text) override { portTitle = text; }
    void showTrayIcon() override { trayShown = true; }
    void removeTrayIcon() override { trayShown = false; }
    void closeModalWindows() override { ++modalsClosed; }
    void runEnded() override { ended = true; }

    QStringList messages;
    QList<int> languages;
    QString portTitle;
    bool trayShown = false;
    int modalsClosed = 0;
    bool ended = false;
};

class DriverServerTest : public ::testing::Test, public ServerFixture
{
protected:
    using State = DriverServer::State;
    using Origin = DriverServer::Origin;

    DriverServerTest() : ServerFixture({true, false}) { server->attachView(view); }

    RecordingView view;
};

} // namespace

TEST_F(DriverServerTest, StartUpFailuresEndWithTheirStatus)
{
    SingleInstanceLock other(dir.path());
    ASSERT_TRUE(other.tryLock());
    EXPECT_EQ(server->start(), DriverServer::kExitSecondInstance);
    EXPECT_EQ(server->state(), State::Done);
    EXPECT_TRUE(driver.openedPorts.isEmpty());

    TempFolder second;
    SingleInstanceLock secondLock(second.path());
    DriverServer failing(second.path(), "QuorinDriverServer", driver, clock, secondLock, {});
    failing.attachView(view);
    driver.openResult = 203;
    AllowQtWarnings named("does not open");
    EXPECT_EQ(failing.start(), DriverServer::kExitPortFailure);
    EXPECT_EQ(view.messages.size(), 2);
    EXPECT_FALSE(view.trayShown);
    EXPECT_TRUE(driver.sent.empty());
    EXPECT_FALSE(failing.findChild<QTimer*>("tmrFile")->isActive());
}

TEST_F(DriverServerTest, StopLineLetsTheRoundEndThenShutsDown)
{
    ASSERT_EQ(server->start(), 0);
    EXPECT_TRUE(view.trayShown);
    EXPECT_EQ(view.portTitle, "Registratore di cassa QUORIN su COM1");
    writeBytes(in("A.TXT"), "STOP\r\n");
    writeBytes(in("B.TXT"), "B1\r\n");
    tick();
    EXPECT_EQ(driver.sentLines(), QStringList({"AVVIO", "B1"}));
    EXPECT_EQ(server->state(), State::Running); // the close is queued, never on the spot
    ASSERT_TRUE(serveEventsUntil([&] { return server->state() == State::Done; }));
    EXPECT_EQ(driver.sentLines(), QStringList({"AVVIO", "B1", "FERMA"}));
    EXPECT_EQ(driver.closeCount, 1);
    EXPECT_FALSE(view.trayShown);
    EXPECT_TRUE(view.ended);
}

TEST_F(DriverServerTest, CloseFromOutsideDuringASendEndsAfterThatFile)
{
    ASSERT_EQ(server->start(), 0);
    writeBytes(in("A.TXT"), "A1\r\nA2\r\n");
    writeBytes(in("B.TXT"), "B1\r\n");
    driver.onSend = [&](qint32, const QString& line) {
        if (line == "A1") {
            server->requestShutdown(Origin::Outside);
            EXPECT_EQ(server->state(), State::Running);
            EXPECT_FALSE(waits.serveEventsFor(1)); // cut short
        }
    };
    tick();
    EXPECT_EQ(server->state(), State::Done);
    EXPECT_EQ(driver.sentLines(), QStringList({"AVVIO", "A1", "A2", "FERMA"}));
    EXPECT_TRUE(fileExists(in("B.TXT")));
    EXPECT_TRUE(waits.serveEventsFor(1)); // Stop.txt is waited for again
}

TEST_F(DriverServerTest, SettingsPauseHoldsPollingAndAClose)
{
    ASSERT_EQ(server->start(), 0);
    ASSERT_TRUE(server->beginSettings());
    EXPECT_EQ(driver.closeCount, 1);
    EXPECT_FALSE(pollTimer().isActive());
    EXPECT_FALSE(server->beginDocument());
    EXPECT_FALSE(server->beginSettings());
    writeBytes(in("A.TXT"), "A1\r\n");
    tick();
    EXPECT_EQ(driver.sentLines(), QStringList({"AVVIO"}));

    server->requestShutdown(Origin::Outside);
    EXPECT_EQ(view.modalsClosed, 1);
    EXPECT_EQ(server->state(), State::SettingsOpen);
    Settings edited = server->settings();
    edited.Language = "English";
    edited.BaudRate = "19200";
    server->endSettings(edited);
    EXPECT_EQ(driver.openedPorts, QStringList({"1", "1"}));
    // The driver is told the speed before each opening.
    EXPECT_EQ(driver.openedSpeeds,
              QStringList({SettingsFile(dir.path()).load().BaudRate, "19200"}));
    EXPECT_EQ(view.languages, QList<int>({0, 1000}));
    EXPECT_EQ(server->state(), State::Done);
    EXPECT_EQ(driver.sentLines(), QStringList({"AVVIO", "FERMA"}));
}

TEST_F(DriverServerTest, DocumentPauseKeepsPollingAndSendsTheDocument)
{
    ASSERT_EQ(server->start(), 0);
    ASSERT_TRUE(server->beginDocument());
    EXPECT_FALSE(server->beginSettings());
    writeBytes(in("A.TXT"), "A1\r\n");
    tick();
    EXPECT_EQ(driver.sentLines(), QStringList({"AVVIO", "A1"}));
    writeBytes(dir.file("doc.orvek"), "DOC\r\n");
    server->endDocument(dir.file("doc.orvek"));
    EXPECT_EQ(driver.sentLines(), QStringList({"AVVIO", "A1", "DOC"}));
    EXPECT_TRUE(fileExists(dir.file("doc.orvek")));
    EXPECT_EQ(server->state(), State::Running);
    EXPECT_TRUE(server->beginSettings());
}
