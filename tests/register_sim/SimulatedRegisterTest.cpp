#include "register_sim/SimulatedRegister.h"
#include "common/Cp1252.h"
#include "common/TextLines.h"
#include "support/TestSupport.h"

#include <QDir>

namespace {

class SimulatedRegisterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QObject::connect(&reg, &RegisterDriver::StatusUpdate,
                         [this](qint32 s) { events << QStringLiteral("S%1").arg(s); });
        QObject::connect(&reg, &RegisterDriver::DumpData,
                         [this](qint32, qint32 n, const QString& t) {
                             events << QStringLiteral("D%1:%2").arg(n).arg(t);
                         });
    }
    void config(const QByteArray& ini) { writeBytes(dir.file("Simulatore.ini"), ini); }
    qint32 open(QString port = "1") { return reg.OpenPort(port); }
    qint32 send(qint32 row, const QString& line, qint16 mode = 1)
    {
        QString l = line;
        return reg.SendCommand(row, mode, l);
    }
    QString query()
    {
        QString answer = "junk";
        EXPECT_EQ(reg.SendQuery(0, 0, "<</?s", answer), 0);
        return answer;
    }
    QStringList journal() { return splitTextLines(readBytes(dir.file("Simulatore.log"))); }

    TempFolder dir;
    FixedClock clock;
    SimulatedRegister reg{dir.path(), clock};
    QStringList events;
};

} // namespace

TEST_F(SimulatedRegisterTest, WithoutConfigurationPortsOneToFourAcceptEverything)
{
    for (const char* p : {"1", "4"})
        EXPECT_EQ(open(p), 0) << p;
    EXPECT_EQ(open("5"), 203);
    EXPECT_EQ(open("COM1"), 203);
    EXPECT_EQ(open("1"), 0);
    EXPECT_EQ(send(1, "ANY LINE"), 0);
    EXPECT_EQ(reg.ExtendedResult(), 0);
}

TEST_F(SimulatedRegisterTest, ClosedPortAnswers561)
{
    EXPECT_EQ(send(1, "X"), 561);
    QString answer = "junk";
    EXPECT_EQ(reg.SendQuery(0, 0, "<</?s", answer), 561);
    EXPECT_TRUE(answer.isEmpty());
    ASSERT_EQ(open("1"), 0);
    reg.ClosePort();
    EXPECT_EQ(send(1, "X"), 561);
}

TEST_F(SimulatedRegisterTest, FirstMatchingRuleInNumericOrderApplies)
{
    config("[Rules]\r\n"
           "Rule10=B => result 17\r\n"
           "Rule2=^AB => result 5, extended 99, status 30\r\n"
           "Rule3=A => result 1\r\n");
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(send(1, "xB"), 17);
    EXPECT_EQ(send(1, "xAB"), 1); // Rule3 comes before Rule10
    EXPECT_EQ(send(1, "AB"), 5);
    EXPECT_EQ(reg.ExtendedResult(), 99);
    EXPECT_EQ(events, QStringList({"S30"}));
    EXPECT_EQ(send(2, "zA"), 1);
    EXPECT_EQ(reg.ExtendedResult(), 0);
    EXPECT_EQ(send(3, "none"), 0);
}

TEST_F(SimulatedRegisterTest, CoverCountsRepeatedSendsOfOneLine)
{
    config("[Rules]\r\nRule1=PAY => cover 2, dump paid $1\r\nRule2=(\\d+) => dump n=$1\r\n");
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(send(2, "PAY"), 574);
    EXPECT_EQ(reg.ExtendedResult(), 581);
    EXPECT_EQ(send(2, "PAY"), 574);
    EXPECT_EQ(send(2, "PAY"), 0);
    EXPECT_EQ(reg.ExtendedResult(), 0);
    EXPECT_EQ(events, QStringList({"S11", "S12", "S1001", "D1:paid "}));
    // A later send of the same line opens the cover again.
    events.clear();
    EXPECT_EQ(send(2, "PAY"), 574);
    EXPECT_EQ(events, QStringList({"S11"}));
    events.clear();
    EXPECT_EQ(send(3, "qty 42"), 0);
    EXPECT_EQ(events, QStringList({"D1:n=42"}));
}

TEST_F(SimulatedRegisterTest, ReceiptsAndStatusAnswer)
{
    config("[Register]\r\nNextReceipt=9999\r\n[Rules]\r\nRule1=BAD => result 17\r\n"
           "Rule2=OPEN => status 11\r\n");
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(query(), "000000009998");
    send(1, "A");
    send(2, "B");
    EXPECT_EQ(query(), "000000009999");
    EXPECT_EQ(query(), "000000009999"); // counted once
    send(1, "A");
    EXPECT_EQ(query(), "000000000000"); // 10000, four digits
    send(1, "A");
    send(2, "BAD");
    EXPECT_EQ(query(), "000000000000"); // a rejected line: no receipt
    send(1, "OPEN");
    EXPECT_EQ(query(), "100000000001");
    // Re-opening, or a new start of the program, keeps the counter while the file's start
    // value is unchanged; a new start value resets it.
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(query(), "100000000001");
    SimulatedRegister restarted(dir.path(), clock);
    QString port = "1", restartedAnswer;
    ASSERT_EQ(restarted.OpenPort(port), 0);
    ASSERT_EQ(restarted.SendQuery(0, 0, "<</?s", restartedAnswer), 0);
    EXPECT_EQ(restartedAnswer, "000000000001");
    config("[Register]\r\nNextReceipt=50\r\n");
    SimulatedRegister reset(dir.path(), clock);
    ASSERT_EQ(reset.OpenPort(port), 0);
    ASSERT_EQ(reset.SendQuery(0, 0, "<</?s", restartedAnswer), 0);
    EXPECT_EQ(restartedAnswer, "000000000049");
    QString answer;
    EXPECT_EQ(reg.SendQuery(0, 0, "other", answer), 575);
    EXPECT_TRUE(answer.isEmpty());
}

TEST_F(SimulatedRegisterTest, PortsAndBadRules)
{
    config("[Register]\r\nPorts=2, 7\r\n[Rules]\r\nRule1=( => result 1\r\nRule2=no arrow\r\n"
           "Rule3=X => explode 3\r\nRule4=X => result many\r\nRule5=X => result 9\r\n");
    EXPECT_EQ(open("1"), 203);
    EXPECT_EQ(open("7"), 0);
    EXPECT_EQ(send(1, "X"), 9);
    const QStringList j = journal();
    for (const char* key : {"Rule1", "Rule2", "Rule3", "Rule4"})
        EXPECT_EQ(j.filter(QStringLiteral(";RuleError=%1").arg(key)).size(), 2) << key;
    EXPECT_TRUE(j.filter("RuleError=Rule5").isEmpty());
}

TEST_F(SimulatedRegisterTest, JournalLines)
{
    config("[Rules]\r\nRule1=D => dump hello\r\n");
    ASSERT_EQ(open("2"), 0);
    send(1, QStringLiteral("D €"), 1);
    send(2, "=X", 0);
    query();
    reg.ClosePort();
    const QString t = "06/12/2026 17:44:05;";
    EXPECT_EQ(journal(),
              QStringList({t + "OpenPort=2;0", t + "DumpData=hello",
                           t + QStringLiteral("Send=1;1;0;D €"), t + "Send=2;0;0;=X",
                           t + "Receipt=1", t + "Query=<</?s;0;000000000001", t + "ClosePort"}));
    EXPECT_TRUE(readBytes(dir.file("Simulatore.log")).contains("D \x80\r\n"));
}

TEST_F(SimulatedRegisterTest, EmptyJournalNameWritesNothing)
{
    config("[Register]\r\nJournal=\r\n");
    ASSERT_EQ(open(), 0);
    send(1, "A");
    EXPECT_FALSE(fileExists(dir.file("Simulatore.log")));
}

TEST_F(SimulatedRegisterTest, MemoryThatCannotBeKeptIsAFaultSaidOnce)
{
    // Something that is not a file where its memory goes (as a read-only program folder would):
    // a counter that silently went back after a restart would make a crash look like a receipt.
    QStringList faults;
    QObject::connect(&reg, &RegisterDriver::faultChanged,
                     [&](const QString& why) { faults << why; });
    ASSERT_TRUE(QDir().mkdir(dir.file("Simulatore.mem")));
    AllowQtWarnings said("cannot keep its memory");
    ASSERT_EQ(open(), 0);
    for (int receipt = 0; receipt < 2; ++receipt) {
        send(1, "SALE");
        query();
    }
    ASSERT_EQ(faults.size(), 1);
    EXPECT_TRUE(faults.first().contains(dir.file("Simulatore.mem")))
        << faults.first().toStdString();
    EXPECT_EQ(said.seen(), 1);
    ASSERT_TRUE(QDir().rmdir(dir.file("Simulatore.mem")));
    send(1, "SALE");
    query();
    EXPECT_EQ(faults, QStringList({faults.first(), QString()}));
}
