#include "server/DriverServer.h"
#include "server/platform/SingleInstanceLock.h"
#include "support/FakeDriver.h"
#include "support/TestSupport.h"

#include <QDir>

namespace {

// Records what the server asks of its window.
class RecordingView : public RecordingDisplayOf<ServerView>
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

class DriverServerTest : public ::testing::Test
{
protected:
    using State = DriverServer::State;
    using Origin = DriverServer::Origin;

    DriverServerTest()
    {
        writeBytes(dir.file("Avvio.txt"), "AVVIO\r\n");
        writeBytes(dir.file("Stop.txt"), "FERMA\r\n");
        DriverServer::Options options;
        options.pipeline = {1, 0, 65536};
        options.watchInputFolder = false;
        server = std::make_unique<DriverServer>(dir.path(), "QuorinDriverServer", driver, clock,
                                                lock, view, options);
    }
    QString in(const QString& name) const { return dir.file("TOSEND/" + name); }
    void tick() { server->tick(CommandFilePipeline::TickCause::Timer); }

    TempFolder dir;
    FakeDriver driver;
    FixedClock clock;
    RecordingView view;
    SingleInstanceLock lock{dir.path()};
    std::unique_ptr<DriverServer> server;
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
    DriverServer failing(second.path(), "QuorinDriverServer", driver, clock, secondLock, view, {});
    driver.openResult = 203;
    AllowQtWarnings named("does not open");
    EXPECT_EQ(failing.start(), DriverServer::kExitPortFailure);
    EXPECT_EQ(view.messages.size(), 2);
    EXPECT_FALSE(view.trayShown);
    EXPECT_TRUE(driver.sent.empty());
    EXPECT_FALSE(failing.pollTimer().isActive());
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
            EXPECT_FALSE(server->pipeline().waits().serveEventsFor(1)); // cut short
        }
    };
    tick();
    EXPECT_EQ(server->state(), State::Done);
    EXPECT_EQ(driver.sentLines(), QStringList({"AVVIO", "A1", "A2", "FERMA"}));
    EXPECT_TRUE(fileExists(in("B.TXT")));
    EXPECT_TRUE(server->pipeline().waits().serveEventsFor(1)); // Stop.txt is waited for again
}

TEST_F(DriverServerTest, SettingsPauseHoldsPollingAndAClose)
{
    ASSERT_EQ(server->start(), 0);
    ASSERT_TRUE(server->beginSettings());
    EXPECT_EQ(driver.closeCount, 1);
    EXPECT_FALSE(server->pollTimer().isActive());
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
    server->endSettings(edited);
    EXPECT_EQ(driver.openedPorts, QStringList({"1", "1"}));
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
