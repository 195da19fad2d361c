#include "driver/ExternalDriver.h"
#include "driver/ResultCodes.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

namespace {

class ExternalDriverTest : public ::testing::Test
{
protected:
    // Starting an interpreter on a loaded machine may take long: the start has a budget of its
    // own, and only what provokes a fault is timed short.
    std::unique_ptr<ExternalDriver> make(const QString& behaviour, int timeoutMs = budgetMs(10000),
                                         int startTimeoutMs = budgetMs(20000))
    {
        ExternalDriver::Options o;
        o.program = QStandardPaths::findExecutable("python3");
        o.arguments = {QStringLiteral(QDS_FAKE_DRIVER), behaviour, dir.file("calls.log")};
        o.workingFolder = dir.path();
        o.timeoutMs = timeoutMs;
        o.startTimeoutMs = startTimeoutMs;
        o.firstRestartPauseMs = 100;
        auto driver = std::make_unique<ExternalDriver>(o, &waits);
        QObject::connect(driver.get(), &RegisterDriver::faultChanged,
                         [this](const QString& why) { faults << why; });
        return driver;
    }
    // Opens port 1, as the program does first.
    qint32 open(ExternalDriver& d)
    {
        QString port = "1";
        d.setPreOpenFlag(false);
        return d.OpenPort(port);
    }
    qint32 send(ExternalDriver& d, QString line)
    {
        qint32 row = 1;
        return d.SendCommand(row, 0, line);
    }
    QStringList calls() const
    {
        return QString(readBytes(dir.file("calls.log"))).split('\n', Qt::SkipEmptyParts);
    }
    QStringList starts() const { return calls().filter(QRegularExpression("^start ")); }

    TempFolder dir;
    InterruptibleWait waits;
    QStringList faults;
};

} // namespace

TEST_F(ExternalDriverTest, EventsArriveBeforeTheAnswerAndTextKeepsItsCharacters)
{
    auto d = make("good");
    ASSERT_EQ(open(*d), 0);
    QStringList seen;
    QObject::connect(d.get(), &RegisterDriver::StatusUpdate,
                     [&](qint32 s) { seen << QString::number(s); });
    QObject::connect(d.get(), &RegisterDriver::DumpData,
                     [&](qint32, qint32, const QString& text) { seen << text; });
    const QString accented = QString::fromUtf8("caffè € “Ž” \u0081 ") + QString(65536, u'x');
    EXPECT_EQ(send(*d, accented), 0);
    EXPECT_EQ(seen, QStringList({"11", accented})); // before SendCommand returned
    QString answer;
    EXPECT_EQ(d->SendQuery(0, 0, "<</?s", answer), 0);
    EXPECT_EQ(answer, "000000000042");
    EXPECT_EQ(calls().mid(1),
              QStringList({"PreOpenFlag", "OpenPort 1", "SendCommand", "SendQuery"}));
}

TEST_F(ExternalDriverTest, FaultsFailTheCallAndTheDriverStartsAgainWithItsPort)
{
    struct Case
    {
        const char* behaviour;
        const char* line; // what makes it fail
        qint32 result;
        const char* stderrSays;
    };
    const Case cases[] = {
        {"silent", "X", ResultCode::NoAnswer, "did not answer SendCommand"},
        {"dies", "DIE", ResultCode::CannotPerform, "ended with exit status 3"},
        {"garbage", "X", ResultCode::CannotPerform, "not the protocol"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        QFile::remove(dir.file("calls.log"));
        faults.clear();
        auto d = make(c.behaviour, budgetMs(2000)); // short: the silent driver's fault
        ASSERT_EQ(open(*d), 0);
        AllowQtWarnings said(c.stderrSays), again("works again");
        EXPECT_EQ(send(*d, c.line), c.result);
        EXPECT_EQ(said.seen(), 1);
        EXPECT_EQ(d->ExtendedResult(), 0);
        ASSERT_EQ(faults.size(), 1);
        // Started again for the next call, with the port it had open.
        QString answer;
        EXPECT_EQ(d->SendQuery(0, 0, "<</?s", answer), 0);
        EXPECT_EQ(starts().size(), 2);
        EXPECT_EQ(d->restarts(), 1);
        EXPECT_EQ(calls().mid(calls().lastIndexOf(QRegularExpression("start .*")) + 1),
                  QStringList({"PreOpenFlag", "OpenPort 1", "SendQuery"}));
        EXPECT_EQ(faults, QStringList({faults.first(), QString()}));
    }
}

TEST_F(ExternalDriverTest, DriverThatCannotStartFailsTheOpening)
{
    ExternalDriver::Options o;
    o.program = "no-such-driver";
    o.workingFolder = dir.path();
    ExternalDriver d(o, &waits);
    AllowQtWarnings said("cannot be started");
    EXPECT_EQ(open(d), ResultCode::CannotPerform);
    auto nohello = make("nohello", budgetMs(10000), 300);
    AllowQtWarnings greet("did not greet");
    EXPECT_EQ(open(*nohello), ResultCode::CannotPerform);
}

TEST_F(ExternalDriverTest, DriverThatKeepsDyingWaitsLongerEachTime)
{
    auto d = make("dies");
    ASSERT_EQ(open(*d), 0);
    AllowQtWarnings said("exit status 3"), again("works again");
    QElapsedTimer clock;
    QList<qint64> failedAt;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(send(*d, "DIE"), ResultCode::CannotPerform);
        failedAt << clock.elapsed();
        if (i == 0)
            clock.start(), failedAt.last() = 0;
    }
    // Started again at once, then after 100, 200 and 400 ms at least.
    EXPECT_GE(failedAt[2] - failedAt[1], 100);
    EXPECT_GE(failedAt[3] - failedAt[2], 200);
    EXPECT_EQ(faults.size(), 1); // the same fault is shown once
    EXPECT_EQ(send(*d, "FINE"), 0);
    EXPECT_EQ(faults.last(), QString());
}

TEST_F(ExternalDriverTest, RestartPauseBeginsAtTheSecondFailureInARowAndEndsWhenACallWorks)
{
    auto d = make("dies");
    ASSERT_EQ(open(*d), 0);
    AllowQtWarnings atOnce("started again for the next call"), paused("at the earliest"),
        again("works again");
    EXPECT_EQ(send(*d, "DIE"), ResultCode::CannotPerform);
    EXPECT_EQ(std::pair(atOnce.seen(), paused.seen()), std::pair(1, 0));
    EXPECT_EQ(send(*d, "DIE"), ResultCode::CannotPerform);
    EXPECT_EQ(std::pair(atOnce.seen(), paused.seen()), std::pair(1, 1));
    EXPECT_EQ(send(*d, "FINE"), 0);
    // The count starts again: one death is followed by a start at once.
    EXPECT_EQ(send(*d, "DIE"), ResultCode::CannotPerform);
    EXPECT_EQ(std::pair(atOnce.seen(), paused.seen()), std::pair(2, 1));
}

TEST_F(ExternalDriverTest, CloseDuringAPendingCallGivesItUpAtOnce)
{
    auto d = make("silent", 60000);
    ASSERT_EQ(open(*d), 0);
    QTimer::singleShot(200, [this] { waits.interrupt(); });
    AllowQtWarnings said("given up");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(send(*d, "X"), ResultCode::NoAnswer);
    EXPECT_LT(clock.elapsed(), budgetMs(5000));
    EXPECT_TRUE(faults.isEmpty()); // not a fault of the driver
    waits.resume();
}

TEST_F(ExternalDriverTest, StandardErrorIsPassedOnBounded)
{
    auto d = make("chatty");
    AllowQtWarnings said("says");
    ASSERT_EQ(open(*d), 0);
    serveEventsUntil([&] { return said.seen() >= 101; });
    EXPECT_EQ(said.seen(), 101); // 100 lines, then one that says the rest is dropped
}

TEST_F(ExternalDriverTest, NothingTheDriverStartedOutlivesIt)
{
    // A wrapper that does not exec, and a child of the driver that holds its output.
    writeBytes(dir.file("wrap.sh"), "python3 '" QDS_FAKE_DRIVER "' \"$@\"\n");
    struct Case
    {
        const char* behaviour;
        bool byTimeout; // otherwise the driver object goes, as at the program's end
    };
    for (const Case c : {Case{"good+family", false}, Case{"silent+family", true}}) {
        SCOPED_TRACE(c.behaviour);
        QFile::remove(dir.file("calls.log"));
        ExternalDriver::Options o;
        o.program = "/bin/sh";
        o.arguments = {"wrap.sh", c.behaviour, dir.file("calls.log")};
        o.workingFolder = dir.path();
        o.timeoutMs = c.byTimeout ? budgetMs(2000) : budgetMs(10000);
        o.startTimeoutMs = budgetMs(20000);
        auto d = std::make_unique<ExternalDriver>(o, &waits);
        ASSERT_EQ(open(*d), 0);
        QList<qint64> pids;
        for (const QString& call : calls())
            if (call.startsWith("start ") || call.startsWith("child "))
                pids << call.section(' ', -1).toLongLong();
        ASSERT_EQ(pids.size(), 2);
        if (c.byTimeout) {
            AllowQtWarnings said("did not answer");
            EXPECT_EQ(send(*d, "X"), ResultCode::NoAnswer);
        } else {
            d.reset();
        }
        EXPECT_TRUE(serveEventsUntil([&] {
            return std::none_of(pids.begin(), pids.end(), processRuns);
        })) << calls().join('\n').toStdString();
    }
}

TEST_F(ExternalDriverTest, DriverThatClosesItsOutputFailsTheCallAtOnce)
{
    auto d = make("mute", 600000);
    ASSERT_EQ(open(*d), 0);
    AllowQtWarnings said("python3 fake_driver.py: closed its standard output");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(send(*d, "X"), ResultCode::CannotPerform);
    EXPECT_LT(clock.elapsed(), budgetMs(10000)); // not the ten minutes of its timeout
    EXPECT_EQ(said.seen(), 1);
}
