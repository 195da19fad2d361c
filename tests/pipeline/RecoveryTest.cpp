#include "common/InterruptibleWait.h"
#include "common/TextLines.h"
#include "pipeline/CommandFilePipeline.h"
#include "pipeline/RecoveryRecord.h"
#include "support/FakeDriver.h"
#include "support/PipelineFolders.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <optional>

namespace {

class RecoveryTest : public ::testing::Test, public PipelineFolders
{
protected:
    QStringList logLines() const { return splitTextLines(readBytes(in("QuorinDriverServer.LOG"))); }
    // A record as a crash leaves it: the file was being sent, two rows accepted. The program
    // then starts again.
    void crashedWhileSending(const QString& name, std::optional<int> lastReceipt)
    {
        restart();
        const auto signature = commandFileSignature(in(name));
        ASSERT_TRUE(signature.has_value());
        RecoveryRecord record(pipeline.recoveryRecordPath());
        RecoveryState state;
        state.file = in(name);
        state.size = signature->size;
        state.modifiedMs = signature->modified.toMSecsSinceEpoch();
        state.lastReceipt = lastReceipt;
        state.time = "06/12/2026 17:40:00";
        ASSERT_TRUE(record.begin(state));
        record.setAcceptedRow(2);
    }
    // A new pipeline in the same place (the old one lets its record and lock go).
    void restart()
    {
        m_pipeline.emplace(settings, driver, display.model, clock, "QuorinDriverServer",
                           CommandFilePipeline::Options{1, 0, 65536});
    }

    FakeDriver driver;
    RecordingDisplay display{settings};
    FixedClock clock;
    std::optional<CommandFilePipeline> m_pipeline;
    CommandFilePipeline& pipeline =
        m_pipeline.emplace(settings, driver, display.model, clock, "QuorinDriverServer",
                           CommandFilePipeline::Options{1, 0, 65536});
    const QString kT = "06/12/2026 17:44";
};

} // namespace

TEST_F(RecoveryTest, RecordLivesWhileTheFileIsSent)
{
    writeBytes(in("A.TXT"), "L1\r\nL2\r\nL3\r\n");
    QStringList seen;
    driver.onSend = [&](qint32, const QString&) {
        const auto state = RecoveryRecord::read(pipeline.recoveryRecordPath());
        ASSERT_TRUE(state.has_value());
        seen << QStringLiteral("%1:%2").arg(state->file).arg(state->acceptedRow);
    };
    pipeline.runTick();
    EXPECT_EQ(seen, QStringList({in("A.TXT") + ":0", in("A.TXT") + ":1", in("A.TXT") + ":2"}));
    EXPECT_FALSE(RecoveryRecord::read(pipeline.recoveryRecordPath()).has_value());
    // The next file's record knows the last receipt read after this one.
    writeBytes(in("B.TXT"), "X\r\n");
    std::optional<int> known;
    driver.onSend = [&](qint32, const QString&) {
        known = RecoveryRecord::read(pipeline.recoveryRecordPath())->lastReceipt;
    };
    pipeline.runTick();
    EXPECT_EQ(known, 42);
}

TEST_F(RecoveryTest, RecordRewrittenInPlaceNeverShowsAnEarlierFile)
{
    // A long name, then a short one: the rest of the longer record must not be read back.
    const QString longName = QString(120, u'L') + ".TXT";
    writeBytes(in(longName), "A\r\n");
    writeBytes(in("S.TXT"), "B\r\nC\r\n");
    std::optional<RecoveryState> during;
    driver.onSend = [&](qint32, const QString& line) {
        if (line == "C")
            during = RecoveryRecord::read(pipeline.recoveryRecordPath());
    };
    pipeline.runTick();
    ASSERT_TRUE(during.has_value());
    EXPECT_EQ(during->file, in("S.TXT"));
    EXPECT_EQ(during->acceptedRow, 1);
    EXPECT_EQ(during->lastReceipt, 42);
    // Finished, and a crash now leaves nothing to recover.
    EXPECT_FALSE(RecoveryRecord::read(pipeline.recoveryRecordPath()).has_value());
    pipeline.recoverInterruptedFile();
    EXPECT_EQ(logLines().filter("Interrupted").size(), 0);
    // A record left by an earlier version of the program (no busy mark) still counts.
    restart();
    writeBytes(pipeline.recoveryRecordPath(), "File=" + in("GONE.TXT").toUtf8() + "\r\nRow=3\r\n");
    ASSERT_TRUE(RecoveryRecord::read(pipeline.recoveryRecordPath()).has_value());
    pipeline.recoverInterruptedFile();
    EXPECT_EQ(logLines().filter("Interrupted").size(), 1);
}

TEST_F(RecoveryTest, ARewriteForTheFilesLeftKeepsTheVerdictAndTheRows)
{
    // A read-only file is left in the folder after its verdict: the record is written again
    // with it before the file's record is finished, and a kill just then must not take the file
    // back to before its verdict.
    writeBytes(in("A.TXT"), "L1\r\nL2\r\n");
    RecoveryRecord record(pipeline.recoveryRecordPath());
    RecoveryState state;
    state.file = in("A.TXT");
    ASSERT_TRUE(record.begin(state));
    record.setAcceptedRow(2);
    record.verdictWritten(true);
    const LeftFile left{in("A.TXT"), *commandFileSignature(in("A.TXT")), "digest"};
    ASSERT_TRUE(record.setLeftFiles({left}));
    const auto read = RecoveryRecord::read(pipeline.recoveryRecordPath());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->verdict, RecoveryState::Verdict::Sent);
    EXPECT_EQ(read->acceptedRow, 2);
    EXPECT_EQ(RecoveryRecord::readLeftFiles(pipeline.recoveryRecordPath()), QList<LeftFile>{left});
    // The rows go on being written in place after such a rewrite.
    record.setAcceptedRow(3);
    EXPECT_EQ(RecoveryRecord::read(pipeline.recoveryRecordPath())->acceptedRow, 3);
}

TEST_F(RecoveryTest, FileThatReachedTheRegisterIsRecordedAsSent)
{
    writeBytes(in("A.TXT"), "L1\r\nL2\r\nL3\r\n");
    crashedWhileSending("A.TXT", 41);
    driver.queryAnswer = "000000000042";
    pipeline.recoverInterruptedFile();
    EXPECT_TRUE(driver.sent.empty());
    EXPECT_FALSE(fileExists(in("A.TXT")));
    EXPECT_EQ(readBytes(in("A.OK")), QByteArray("06/12/2026 17:44;Dump=0042\r\n"));
    EXPECT_EQ(logLines(), QStringList({kT + ";Interrupted=" + in("A.TXT"), kT + ";Ticket=42"}));
    EXPECT_FALSE(RecoveryRecord::read(pipeline.recoveryRecordPath()).has_value());
}

TEST_F(RecoveryTest, FileThatDidNotReachItFailsForAPersonToDecide)
{
    writeBytes(in("A.TXT"), "L1\r\nL2\r\nL3\r\n");
    crashedWhileSending("A.TXT", 42);
    pipeline.recoverInterruptedFile();
    EXPECT_TRUE(driver.sent.empty());
    EXPECT_FALSE(fileExists(in("A.TXT")));
    const QString record =
        "Error=553;Impossibile inviare scontrino al registratore di cassa.;Row 3;L3";
    EXPECT_EQ(readBytes(in("A.KO")), (record + "\r\n").toLatin1());
    EXPECT_EQ(logLines(), QStringList({kT + ";Interrupted=" + in("A.TXT"), kT + ";" + record}));
    EXPECT_EQ(QDir(dir.file("out")).entryList(QDir::Files), QStringList({"202612061744A.TXT"}));
    EXPECT_EQ(display.raised, 1);
    // An unknown last receipt cannot prove anything either.
    writeBytes(in("B.TXT"), "X\r\nY\r\nZ\r\n");
    crashedWhileSending("B.TXT", std::nullopt);
    pipeline.recoverInterruptedFile();
    EXPECT_TRUE(fileExists(in("B.KO")));
}

TEST_F(RecoveryTest, ChangedOrMissingFileIsOnlyNoted)
{
    writeBytes(in("A.TXT"), "L1\r\n");
    crashedWhileSending("A.TXT", 1);
    writeBytes(in("A.TXT"), "L1\r\nL2 new\r\n");
    pipeline.recoverInterruptedFile();
    EXPECT_TRUE(fileExists(in("A.TXT"))); // a new file of that name: polling sends it
    EXPECT_EQ(logLines(), QStringList({kT + ";Interrupted=" + in("A.TXT")}));
    EXPECT_FALSE(RecoveryRecord::read(pipeline.recoveryRecordPath()).has_value());
    pipeline.recoverInterruptedFile(); // nothing left to do
    EXPECT_EQ(logLines().size(), 1);
    // A record opened by a tick but never written is no interrupted file either.
    writeBytes(pipeline.recoveryRecordPath(), "");
    pipeline.recoverInterruptedFile();
    EXPECT_EQ(logLines().size(), 1);
}

TEST_F(RecoveryTest, NoRecordNoSend)
{
    AllowQtWarnings expected("folder");
    QDir().mkdir(pipeline.recoveryRecordPath()); // the record cannot be written
    writeBytes(in("A.TXT"), "X\r\n");
    pipeline.runTick();
    EXPECT_TRUE(driver.sent.empty());
    EXPECT_TRUE(fileExists(in("A.TXT")));
    QDir().rmdir(pipeline.recoveryRecordPath());
    pipeline.runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"X"}));
}

TEST_F(RecoveryTest, EndlessCoverIsGivenUpOnAbort)
{
    writeBytes(in("C.TXT"), "PAY\r\nNEVER\r\n");
    std::deque<FakeDriver::Answer> open(100, {574, 581});
    driver.answer("PAY", open);
    int sends = 0;
    driver.onSend = [&](qint32, const QString&) { ++sends; };
    pipeline.setAbortCheck([&] { return sends >= 5; });
    pipeline.runTick();
    EXPECT_EQ(sends, 5);
    EXPECT_EQ(readBytes(in("C.KO")), QByteArray("Error=574;Errore esteso;Row 1;PAY\r\n"));
    // Waits interrupted from outside end at once.
    pipeline.waits().interrupt();
    EXPECT_FALSE(pipeline.waits().serveEventsFor(60000));
    pipeline.waits().resume();
    EXPECT_TRUE(pipeline.waits().serveEventsFor(1));
}

TEST_F(RecoveryTest, OnlyAPlausibleStepForwardCountsAsReached)
{
    struct Case
    {
        std::optional<int> recorded;
        qint32 queryResult;
        bool queryFails;
        const char* answer;
        bool reached;
    };
    // A three-line file: at most three receipts.
    const Case cases[] = {
        {41, 0, false, "000000000042", true},            // one forward
        {41, 0, false, "000000000044", true},            // as many as the file has lines
        {9999, 0, false, "000000000001", true},          // forward across the wrap
        {42, 0, false, "000000000042", false},           // the same number
        {42, 0, false, "000000000000", false},           // went back (the counter was reset)
        {41, 0, false, "000000000045", false},           // more receipts than the file has lines
        {41, 0, false, "000000009041", false},           // far too many
        {41, 561, false, "000000000042", false},         // the register refuses the question
        {41, 0, true, "000000000042", false},            // the driver call fails
        {std::nullopt, 0, false, "000000000042", false}, // nothing to compare with
        {41, 0, false, "00000000  42", false},           // not the documented form
        {41, 0, false, "0000000042", false},             // too short
    };
    AllowQtWarnings expected("SendQuery failed");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.answer << " after " << c.recorded.value_or(-1));
        QFile::remove(in("A.OK"));
        QFile::remove(in("A.KO"));
        writeBytes(in("A.TXT"), "L1\r\nL2\r\nL3\r\n");
        crashedWhileSending("A.TXT", c.recorded);
        driver.queryAnswer = c.answer;
        driver.queryResult = c.queryResult;
        driver.queryFails = c.queryFails;
        pipeline.recoverInterruptedFile();
        EXPECT_TRUE(driver.sent.empty());
        EXPECT_FALSE(fileExists(in("A.TXT")));
        EXPECT_EQ(fileExists(in("A.OK")), c.reached);
        EXPECT_EQ(fileExists(in("A.KO")), !c.reached);
    }
}

TEST_F(RecoveryTest, RecordFollowsTheInputFolder)
{
    writeBytes(in("A.TXT"), "X\r\n");
    pipeline.runTick();
    // The folder is deleted and made again: the record of the next file must be where a
    // restart looks for it, not in the deleted folder.
    ASSERT_TRUE(QDir(in("")).removeRecursively());
    ASSERT_TRUE(QDir().mkdir(in("")));
    writeBytes(in("B.TXT"), "Y\r\n");
    std::optional<RecoveryState> during;
    driver.onSend = [&](qint32, const QString&) {
        during = RecoveryRecord::read(pipeline.recoveryRecordPath());
    };
    pipeline.runTick();
    ASSERT_TRUE(during.has_value());
    EXPECT_EQ(during->file, in("B.TXT"));
}

TEST_F(RecoveryTest, InterruptedFileLeavesNoEmptyOkAndNoTemporaryFiles)
{
    writeBytes(in("A.TXT"), "L1\r\nL2\r\nL3\r\n");
    crashedWhileSending("A.TXT", 42);
    // A kill between making the .OK and writing it; temporary files of atomic writes.
    writeBytes(in("A.OK"), "");
    for (const QString& leftover : {in(".qds-1x2y.tmp"), out(".qds-zz.tmp")})
        writeBytes(leftover, "half");
    const QStringList kept = {in(".qds-other.txt"), in("x.tmp"), out("202612061744B.TXT")};
    for (const QString& other : kept)
        writeBytes(other, "not ours");
    QDir().mkdir(in(".qds-folder.tmp"));
    pipeline.recoverInterruptedFile();
    EXPECT_TRUE(readBytes(in("A.KO")).startsWith("Error=553;"));
    EXPECT_FALSE(fileExists(in("A.OK")));
    EXPECT_FALSE(fileExists(in(".qds-1x2y.tmp")));
    EXPECT_FALSE(fileExists(out(".qds-zz.tmp")));
    for (const QString& other : kept)
        EXPECT_EQ(readBytes(other), QByteArray("not ours")) << other.toStdString();
    EXPECT_TRUE(QFileInfo(in(".qds-folder.tmp")).isDir());
}

TEST_F(RecoveryTest, AfterAFailedFileTheNumberIsReadAgainBeforeTheNext)
{
    // After a failure the register's number may be anywhere: it is read once before the next
    // file, so that a crash in that one is judged by it.
    writeBytes(in("A.TXT"), "OK\r\n");
    pipeline.runTick();
    writeBytes(in("B.TXT"), "BAD\r\n");
    driver.answer("BAD", {{17, 0}});
    pipeline.runTick();
    writeBytes(in("C.TXT"), "X\r\n");
    writeBytes(in("D.TXT"), "Y\r\n");
    QList<std::optional<int>> known;
    driver.onSend = [&](qint32, const QString&) {
        known.append(RecoveryRecord::read(pipeline.recoveryRecordPath())->lastReceipt);
    };
    const qsizetype queries = driver.queries.size();
    driver.queryAnswer = "000000000043";
    pipeline.runTick();
    EXPECT_EQ(known, (QList<std::optional<int>>{43, 43}));
    // One query before C (the number was lost), none before D; two after each (its answer
    // tail, its ticket).
    EXPECT_EQ(driver.queries.size() - queries, 5);
}

TEST_F(RecoveryTest, AnAnswerWithoutAReadableNumberIsSaidAndRecordedAsNoNumber)
{
    struct Case
    {
        const char* answer;
        const char* ticket; // the log line keeps the number as it was always read
        bool readable;
    };
    const Case cases[] = {
        {"000000000042", "Ticket=42", true},
        {"42", "Ticket=0", false},
        {"00000000-004", "Ticket=-4", false},
        {"00000000x", "Ticket=0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        driver.queryAnswer = c.answer;
        writeBytes(in("A.TXT"), "OK\r\n");
        AllowQtWarnings said("has no receipt number in characters 9 to 12");
        pipeline.runTick();
        EXPECT_EQ(said.seen(), c.readable ? 0 : 1);
        EXPECT_TRUE(logLines().last().endsWith(c.ticket)) << logLines().last().toStdString();
        writeBytes(in("C.TXT"), "X\r\n");
        std::optional<std::optional<int>> known;
        driver.onSend = [&](qint32, const QString&) {
            known = RecoveryRecord::read(pipeline.recoveryRecordPath())->lastReceipt;
        };
        pipeline.runTick();
        driver.onSend = nullptr;
        ASSERT_TRUE(known.has_value());
        EXPECT_EQ(known->has_value(), c.readable);
    }
}

TEST_F(RecoveryTest, WhatAKillLeavesIsDecidedOnceAndNeverTwice)
{
    // A kill at any step of a file: its verdict on the disk is final; every line accepted is a
    // file sent; otherwise this register's receipt number decides, and another register's never.
    using Verdict = RecoveryState::Verdict;
    struct Case
    {
        const char* name;
        int acceptedRow;
        Verdict mark;
        const char* okFile; // left on the disk, or nullptr
        const char* koFile;
        const char* recordRegister;
        std::optional<int> lastReceipt;
        const char* answer;
        const char* expected; // "sent", "failed as written" or "553"
    };
    const char* ours = "/prog COM1";
    const Case cases[] = {
        {"verdict .OK written, killed as the file was deleted", 3, Verdict::Sent,
         "06/12/2026 17:44;Dump=0001\r\n", nullptr, ours, std::nullopt, "000000000001", "sent"},
        {"the same, found by the instance of another register", 3, Verdict::Sent,
         "06/12/2026 17:44;Dump=0001\r\n", nullptr, "/other COM1", 1, "000000000007", "sent"},
        {"verdict .KO written and copied, killed as the file was deleted", 1, Verdict::Failed,
         nullptr, "Error=17;Errore generico;Row 2;L2\r\n", ours, 41, "000000000041",
         "failed as written"},
        {"marked, but the .OK never reached the disk: the rows decide", 3, Verdict::Sent, nullptr,
         nullptr, ours, std::nullopt, "000000000042", "sent"},
        {"every line accepted, killed before the verdict", 3, Verdict::None, nullptr, nullptr, ours,
         std::nullopt, "000000000042", "sent"},
        {"every line accepted by another register", 3, Verdict::None, nullptr, nullptr,
         "/other COM1", std::nullopt, "000000000042", "553"},
        {"every line accepted by another register, its .OK written", 3, Verdict::None,
         "06/12/2026 17:44;Dump=0007\r\n", nullptr, "/other COM1", 6, "000000000042", "sent"},
        {"this register's number moved by one", 2, Verdict::None, nullptr, nullptr, ours, 41,
         "000000000042", "sent"},
        {"another register's number moved by one", 2, Verdict::None, nullptr, nullptr,
         "/other COM1", 41, "000000000042", "553"},
        {"a record of an earlier version names no register", 2, Verdict::None, nullptr, nullptr, "",
         41, "000000000042", "sent"},
        {"the number did not move", 2, Verdict::None, nullptr, nullptr, ours, 42, "000000000042",
         "553"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* name : {"B.TXT", "B.OK", "B.KO"})
            QFile::remove(in(name));
        for (const QString& name : QDir(dir.file("out")).entryList(QDir::Files))
            QFile::remove(out(name));
        QFile::remove(in("QuorinDriverServer.LOG"));
        writeBytes(in("B.TXT"), "L1\r\nL2\r\nL3\r\n");
        if (c.okFile)
            writeBytes(in("B.OK"), c.okFile);
        if (c.koFile)
            writeBytes(in("B.KO"), c.koFile);
        restart();
        pipeline.setRegisterName(QString::fromLatin1(ours));
        const auto signature = commandFileSignature(in("B.TXT"));
        ASSERT_TRUE(signature.has_value());
        {
            RecoveryRecord record(pipeline.recoveryRecordPath());
            RecoveryState state;
            state.file = in("B.TXT");
            state.size = signature->size;
            state.modifiedMs = signature->modified.toMSecsSinceEpoch();
            state.lastReceipt = c.lastReceipt;
            state.registerName = QString::fromLatin1(c.recordRegister);
            ASSERT_TRUE(record.begin(state));
            record.setAcceptedRow(c.acceptedRow);
            if (c.mark != Verdict::None)
                record.verdictWritten(c.mark == Verdict::Sent);
        }
        driver.queryAnswer = QString::fromLatin1(c.answer);
        AllowQtWarnings other("another register");
        pipeline.recoverInterruptedFile();
        const QString expected = QString::fromLatin1(c.expected);
        EXPECT_FALSE(fileExists(in("B.TXT")));
        EXPECT_TRUE(driver.sent.empty());
        const QStringList copies = QDir(dir.file("out")).entryList(QDir::Files);
        if (expected == "sent") {
            EXPECT_TRUE(fileExists(in("B.OK")));
            EXPECT_FALSE(fileExists(in("B.KO"))) << readBytes(in("B.KO")).constData();
            EXPECT_TRUE(copies.isEmpty());
            if (c.okFile) { // a verdict on the disk is not written again
                EXPECT_EQ(readBytes(in("B.OK")), QByteArray(c.okFile));
            }
        } else if (expected == "failed as written") {
            EXPECT_EQ(readBytes(in("B.KO")), QByteArray(c.koFile));
            EXPECT_FALSE(fileExists(in("B.OK")));
            EXPECT_TRUE(copies.isEmpty()) << "the copy was made before the mark";
        } else {
            EXPECT_TRUE(readBytes(in("B.KO")).startsWith("Error=553;"));
            EXPECT_FALSE(fileExists(in("B.OK")));
            EXPECT_EQ(copies.size(), 1);
        }
        EXPECT_FALSE(RecoveryRecord::read(pipeline.recoveryRecordPath()).has_value());
    }
}
