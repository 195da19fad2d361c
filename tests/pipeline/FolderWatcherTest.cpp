// Taking command files as soon as they are complete: the folder watchers, the listing that
// trusts their events, and the tick they start.
#include "pipeline/FolderWatcher.h"
#include "pipeline/CommandFilePipeline.h"
#include "pipeline/InputFolderScanner.h"
#include "support/FakeDriver.h"
#include "support/PipelineFolders.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

namespace {

using Kind = FolderEvent::Kind;

QStringList describe(const QList<FolderEvent>& events)
{
    QStringList out;
    for (const FolderEvent& e : events) {
        const char* kind = e.kind == Kind::Appeared    ? "appeared "
                           : e.kind == Kind::Completed ? "completed "
                           : e.kind == Kind::Removed   ? "removed "
                                                       : "rescan";
        out << QString::fromLatin1(kind) + e.name;
    }
    return out;
}

void ageFolder(const QString& path)
{
    std::filesystem::last_write_time(
        QFile::encodeName(path).toStdString(),
        std::chrono::file_clock::from_sys(std::chrono::system_clock::now() -
                                          std::chrono::minutes(1)));
}

// Events handed over by the test.
class ScriptedWatcher : public FolderWatcher
{
public:
    ScriptedWatcher() : FolderWatcher({}) {}
    bool watch(const QString&) override { return watching; }
    bool isWatching() const override { return watching; }
    bool seesEveryChange() const override { return everyChange; }
    QList<FolderEvent> takeEvents() override
    {
        QList<FolderEvent> out;
        out.swap(events);
        return out;
    }
    bool watching = true;
    bool everyChange = false; // as on a network share
    QList<FolderEvent> events;
};

class FolderWatcherTest : public ::testing::Test, public PipelineFolders
{
protected:
    std::unique_ptr<FolderWatcher> watcher =
        createFolderWatcher(&InputFolderScanner::isCommandFileName);
};

// A pipeline on the fake driver whose input folder is watched; counts the watcher's wake-ups.
class WatchedPipelineTest : public ::testing::Test, public PipelineFolders
{
protected:
    void SetUp() override
    {
        pipeline.setFolderWatcher(createFolderWatcher(&InputFolderScanner::isCommandFileName));
        ASSERT_TRUE(pipeline.watchInputFolder());
        QObject::connect(pipeline.folderWatcher(), &FolderWatcher::eventsPending,
                         [this] { ++pending; });
    }

    FakeDriver driver;
    RecordingDisplay display{settings};
    FixedClock clock;
    CommandFilePipeline pipeline{
        settings, driver, display.model, clock, "QuorinDriverServer", {1, 1000, 65536}};
    int pending = 0;
};

} // namespace

TEST_F(FolderWatcherTest, TellsWhenACommandFileIsCompleteAndWhenTheFolderGoes)
{
    int pending = 0;
    QObject::connect(watcher.get(), &FolderWatcher::eventsPending, [&] { ++pending; });
    ASSERT_TRUE(watcher->watch(in("")));
    EXPECT_TRUE(watcher->seesEveryChange()); // a local disk

    QFile open(in("A.TXT"));
    ASSERT_TRUE(open.open(QIODevice::WriteOnly));
    open.write("LINE\r\n");
    open.flush();
    writeBytes(in("A.OK"), "not a command file\r\n");
    QCoreApplication::processEvents();
    EXPECT_EQ(pending, 0); // nothing is complete yet
    EXPECT_EQ(describe(watcher->takeEvents()), QStringList({"appeared A.TXT"}));

    open.close();
    ASSERT_TRUE(serveEventsUntil([&] { return pending > 0; }));
    writeBytes(in("b.tmp"), "X\r\n");
    ASSERT_TRUE(QFile::rename(in("b.tmp"), in("b.txt")));
    ASSERT_TRUE(QFile::remove(in("A.TXT")));
    EXPECT_EQ(describe(watcher->takeEvents()),
              QStringList({"completed A.TXT", "completed b.txt", "removed A.TXT"}));
    EXPECT_TRUE(watcher->takeEvents().isEmpty());

    ASSERT_TRUE(QDir(in("")).removeRecursively());
    EXPECT_EQ(describe(watcher->takeEvents()), QStringList({"removed b.txt", "rescan"}));
    EXPECT_FALSE(watcher->isWatching());
    QDir().mkdir(in(""));
    EXPECT_TRUE(watcher->watch(in("")));
    EXPECT_FALSE(createFolderWatcher({})->watch(in("missing/")));
}

TEST_F(FolderWatcherTest, PortableWatcherAsksForAListingOnAnyChange)
{
    auto portable = createPortableFolderWatcher(&InputFolderScanner::isCommandFileName);
    int pending = 0;
    QObject::connect(portable.get(), &FolderWatcher::eventsPending, [&] { ++pending; });
    ASSERT_TRUE(portable->watch(in("")));
    portable->takeEvents();
    writeBytes(in("A.TXT"), "X\r\n");
    ASSERT_TRUE(serveEventsUntil([&] { return pending > 0; }));
    EXPECT_EQ(describe(portable->takeEvents()), QStringList({"rescan"}));
    EXPECT_TRUE(portable->takeEvents().isEmpty());
}

TEST_F(FolderWatcherTest, ListingFromEventsAgreesWithTheFolder)
{
    auto scripted = std::make_unique<ScriptedWatcher>();
    ScriptedWatcher& events = *scripted;
    InputFolderScanner scanner(60000);
    qint64 now = 0;
    scanner.setSteadyClock([&] { return now; });
    scanner.setWatcher(std::move(scripted));
    ASSERT_TRUE(scanner.watch(in("")));
    writeBytes(in("OLD.TXT"), "X\r\n");
    EXPECT_TRUE(scanner.list(in("")).ready.isEmpty()); // first seen now
    now += 60000;
    EXPECT_EQ(scanner.list(in("")).ready, QStringList({in("OLD.TXT")}));

    // Young files are ready at once only if their writer closed them and left them unchanged.
    writeBytes(in("b.TXT"), "X\r\n");
    writeBytes(in("a.TXT"), "X\r\n");
    writeBytes(in("c.TXT"), "X\r\n");
    events.events = {
        {Kind::Completed, "b.TXT"}, {Kind::Appeared, "c.TXT"}, {Kind::Completed, "a.TXT"}};
    auto listing = scanner.listFromEvents(in(""));
    EXPECT_EQ(listing.ready, QStringList({in("a.TXT"), in("b.TXT"), in("OLD.TXT")}));
    EXPECT_EQ(listing.settling, 1);
    writeBytes(in("a.TXT"), "X\r\nREOPENED AND WRITTEN AGAIN\r\n");
    listing = scanner.listFromEvents(in(""));
    EXPECT_EQ(listing.ready, QStringList({in("b.TXT"), in("OLD.TXT")}));
    EXPECT_EQ(listing.settling, 2);

    // A file the events never mentioned is found by the next full listing, or after a rescan.
    for (const char* name : {"a.TXT", "b.TXT", "c.TXT", "OLD.TXT"})
        QFile::remove(in(name));
    writeBytes(in("UNSEEN.TXT"), "X\r\n");
    EXPECT_EQ(scanner.listFromEvents(in("")).settling, 0);
    events.events = {{Kind::Rescan, {}}};
    EXPECT_EQ(scanner.listFromEvents(in("")).settling, 1);
    QFile::remove(in("UNSEEN.TXT"));
    writeBytes(in("UNSEEN2.TXT"), "X\r\n");
    EXPECT_EQ(scanner.list(in("")).settling, 1);

    // Without a watch the events are not trusted at all.
    QFile::remove(in("UNSEEN2.TXT"));
    writeBytes(in("UNSEEN3.TXT"), "X\r\n");
    events.watching = false;
    EXPECT_EQ(scanner.listFromEvents(in("")).settling, 1);
}

TEST_F(FolderWatcherTest, TimerReadsTheFolderWhenItShowsAChange)
{
    InputFolderScanner scanner(0);
    scanner.setWatcher(std::make_unique<ScriptedWatcher>());
    ASSERT_TRUE(scanner.watch(in("")));
    ageFolder(in(""));
    scanner.listOnTimer(in(""));
    EXPECT_EQ(scanner.folderReads(), 1);
    scanner.listOnTimer(in(""));
    EXPECT_EQ(scanner.folderReads(), 1); // unchanged and trusted: the events say all

    // A file the events never told of (as on a network share) changes the folder's time.
    writeBytes(in("NET.TXT"), "X\r\n");
    EXPECT_EQ(scanner.listOnTimer(in("")).ready, QStringList({in("NET.TXT")}));
    EXPECT_EQ(scanner.folderReads(), 2);
    // Read just after a change, the folder's time proves nothing yet.
    scanner.listOnTimer(in(""));
    EXPECT_EQ(scanner.folderReads(), 3);

    // A watcher that sees every change (a local disk) is trusted without looking.
    auto local = std::make_unique<ScriptedWatcher>();
    local->everyChange = true;
    scanner.setWatcher(std::move(local));
    ASSERT_TRUE(scanner.watch(in("")));
    scanner.listOnTimer(in(""));
    writeBytes(in("LOCAL.TXT"), "X\r\n"); // its event is left out on purpose
    EXPECT_EQ(scanner.listOnTimer(in("")).ready, QStringList({in("NET.TXT")}));
    EXPECT_EQ(scanner.folderReads(), 4);
}

TEST_F(WatchedPipelineTest, FileStillBeingWrittenIsNeverSentHalf)
{

    // Another program adds a line every 100 ms while ticks of both kinds keep coming.
    std::atomic<bool> closed = false;
    std::thread writer([&, path = in("SLOW.TXT")] {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return;
        for (int i = 1; i <= 10; ++i) {
            file.write(QByteArray("LINE ") + QByteArray::number(i) + "\r\n");
            file.flush();
            QThread::msleep(100);
        }
        file.close();
        closed = true;
    });
    bool sentWhileOpen = false;
    while (!closed) {
        for (auto cause :
             {CommandFilePipeline::TickCause::Timer, CommandFilePipeline::TickCause::FolderEvent}) {
            const bool open = !closed;
            pipeline.runTick({}, cause);
            sentWhileOpen |= open && !closed && !driver.sent.empty();
        }
        QThread::msleep(30);
    }
    writer.join();
    EXPECT_FALSE(sentWhileOpen);
    ASSERT_TRUE(serveEventsUntil([&] { return pending > 0 || !driver.sent.empty(); }));
    pipeline.runTick({}, CommandFilePipeline::TickCause::FolderEvent);
    QStringList expected;
    for (int i = 1; i <= 10; ++i)
        expected << QString("LINE %1").arg(i);
    EXPECT_EQ(driver.sentLines(), expected);
    EXPECT_FALSE(fileExists(in("SLOW.TXT")));
    EXPECT_TRUE(fileExists(in("SLOW.OK")));
}

TEST_F(WatchedPipelineTest, WatchComesBackWithTheFolder)
{
    AllowQtWarnings reported("folder");
    ASSERT_TRUE(QDir(in("")).removeRecursively());
    serveEventsUntil([&] { return !pipeline.folderWatcher()->isWatching(); });
    pipeline.runTick(); // the folder is missing: nothing to do, nothing breaks
    EXPECT_FALSE(pipeline.folderWatcher()->isWatching());

    // A file dropped before the watch is back is taken by the tick that brings it back.
    ASSERT_TRUE(QDir().mkdir(in("")));
    writeBytes(in("EARLY.TXT"), "EARLY\r\n");
    pipeline.runTick();
    EXPECT_TRUE(pipeline.folderWatcher()->isWatching());
    EXPECT_EQ(driver.sentLines(), QStringList({"EARLY"}));
    pending = 0;
    writeBytes(in("BACK.tmp"), "BACK\r\n");
    ASSERT_TRUE(QFile::rename(in("BACK.tmp"), in("BACK.TXT")));
    ASSERT_TRUE(serveEventsUntil([&] { return pending > 0; }));
    pipeline.runTick({}, CommandFilePipeline::TickCause::FolderEvent);
    EXPECT_EQ(driver.sentLines(), QStringList({"EARLY", "BACK"}));

    // Deleted and made again between two ticks, before its events are read.
    ASSERT_TRUE(QDir(in("")).removeRecursively());
    ASSERT_TRUE(QDir().mkdir(in("")));
    writeBytes(in("AGAIN.TXT"), "AGAIN\r\n");
    pipeline.runTick();
    pipeline.runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"EARLY", "BACK", "AGAIN"}));
}

TEST_F(FolderWatcherTest, AFileIsCompleteWhenSeenUnchangedForTheSettlingTimeWhateverItsDate)
{
    // The writer's clock may be hours ahead or behind ours: the date proves nothing, what we
    // see over time does.
    qint64 now = 0;
    InputFolderScanner scanner(1000);
    scanner.setSteadyClock([&] { return now; });
    const auto setModified = [](const QString& path, const QDateTime& time) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(time, QFileDevice::FileModificationTime));
    };
    const QDateTime ahead = QDateTime::currentDateTime().addSecs(7200);
    writeBytes(in("AHEAD.TXT"), "LINE 1\r\n");
    setModified(in("AHEAD.TXT"), ahead);
    writeBytes(in("PAST.TXT"), "X\r\n");
    setModified(in("PAST.TXT"), QDateTime::currentDateTime().addSecs(-3600));
    writeBytes(in("NOW.TXT"), "X\r\n");
    auto listing = scanner.list(in(""));
    EXPECT_TRUE(listing.ready.isEmpty());
    EXPECT_EQ(listing.settling, 3);
    EXPECT_EQ(listing.msUntilSettled, 1000);

    now = 600; // the writer goes on, its clock still ahead
    writeBytes(in("AHEAD.TXT"), "LINE 1\r\nLINE 2\r\n");
    setModified(in("AHEAD.TXT"), ahead.addMSecs(600));
    EXPECT_TRUE(scanner.list(in("")).ready.isEmpty());
    now = 1000;
    listing = scanner.list(in(""));
    EXPECT_EQ(listing.ready, QStringList({in("NOW.TXT"), in("PAST.TXT")}));
    EXPECT_EQ(listing.settling, 1);
    EXPECT_EQ(listing.msUntilSettled, 600);
    now = 1600;
    EXPECT_EQ(scanner.list(in("")).ready,
              QStringList({in("AHEAD.TXT"), in("NOW.TXT"), in("PAST.TXT")}));
}
