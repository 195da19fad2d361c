#include "pipeline/CommandFilePipeline.h"
#include "common/TextLines.h"
#include "register_sim/SimulatedRegister.h"
#include "support/FakeDriver.h"
#include "support/PipelineFolders.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class PipelineTest : public ::testing::Test, public PipelineFolders
{
protected:
    CommandFilePipeline& pipeline()
    {
        if (!m_pipeline) {
            m_pipeline = std::make_unique<CommandFilePipeline>(
                settings, driver, display.model, clock, "QuorinDriverServer", options);
            m_pipeline->setCloseRequest([this] { ++closeRequests; });
        }
        return *m_pipeline;
    }
    void drop(const QString& name, const QByteArray& bytes) { writeBytes(in(name), bytes); }
    QStringList logLines() const { return splitTextLines(readBytes(in("QuorinDriverServer.LOG"))); }
    QStringList outFiles() const { return QDir(dir.file("out")).entryList(QDir::Files); }

    FakeDriver driver;
    RecordingDisplay display{settings};
    FixedClock clock;
    CommandFilePipeline::Options options{1, 0, 65536};
    std::unique_ptr<CommandFilePipeline> m_pipeline;
    int closeRequests = 0;
};

const QString kT = "06/12/2026 17:44";

} // namespace

TEST_F(PipelineTest, SuccessfulFileLeavesOkTicketAndIsDeleted)
{
    drop("SCONTR.TXT", "=FIRST\r\nSECOND\r\n=THIRD\r\n\r\nstop\r\nSTOP \r\n");
    pipeline().runTick();
    ASSERT_EQ(driver.sent.size(), 6u);
    EXPECT_EQ(driver.sent[0].mode, 1); // the first line is sent with mode 1 even with "="
    EXPECT_EQ(driver.sent[1].mode, 1);
    EXPECT_EQ(driver.sent[2].mode, 0);
    EXPECT_EQ(driver.sent[3].line, "");
    EXPECT_EQ(driver.sent[5].row, 6);
    EXPECT_EQ(closeRequests, 0); // "stop" and "STOP " are ordinary lines
    EXPECT_FALSE(fileExists(in("SCONTR.TXT")));
    EXPECT_EQ(readBytes(in("SCONTR.OK")), QByteArray("06/12/2026 17:44;Dump=0042\r\n"));
    EXPECT_FALSE(fileExists(in("SCONTR.KO")));
    EXPECT_EQ(logLines(), QStringList({kT + ";Ticket=42"}));
    EXPECT_EQ(display.receiptTime, "17:44:05");
    EXPECT_EQ(display.receiptNumber, "42");
    EXPECT_EQ(display.raised, 0);
    EXPECT_TRUE(outFiles().isEmpty());
}

TEST_F(PipelineTest, StopLineAsksForCloseAndLaterLinesStillGo)
{
    drop("A.TXT", "ONE\r\nSTOP\r\nTWO");
    pipeline().runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"ONE", "TWO"}));
    EXPECT_EQ(driver.sent[1].row, 3);
    EXPECT_EQ(closeRequests, 1);
}

TEST_F(PipelineTest, FailingThirdLine)
{
    const QByteArray content = "L1\r\nL2\nABC \x80\xE8\x81\rL4\r\n";
    drop("S.TXT", content);
    driver.answer(QStringLiteral("ABC €è\u0081"), {{17, 0}});
    display.model.fileFailed(203); // an older error, replaced
    pipeline().runTick();
    EXPECT_EQ(driver.sentLines().size(), 3);
    const QByteArray record = "Error=17;Errore generico;Row 3;ABC \x80\xE8\x81";
    EXPECT_EQ(readBytes(in("S.KO")), record + "\r\n");
    EXPECT_EQ(readBytes(in("QuorinDriverServer.LOG")), kT.toLatin1() + ";" + record + "\r\n");
    EXPECT_FALSE(fileExists(in("S.OK")));
    EXPECT_FALSE(fileExists(in("S.TXT")));
    EXPECT_EQ(outFiles(), QStringList({"202612061744S.TXT"}));
    EXPECT_EQ(readBytes(out("202612061744S.TXT")), content);
    EXPECT_EQ(display.error, "Errore generico");
    EXPECT_EQ(display.toolTip, "Errore generico");
    EXPECT_EQ(display.picture, TrayPicture::Error);
    EXPECT_EQ(display.raised, 1);
    EXPECT_TRUE(driver.queries.isEmpty()); // no ticket asked for a failed file
}

TEST_F(PipelineTest, BlankAnswerTailAndNoDumpLeaveNoResultFile)
{
    driver.queryAnswer = "00000000    ";
    AllowQtWarnings unreadable("has no receipt number");
    drop("A.TXT", "X\r\n");
    writeBytes(in("A.OK"), "stale\r\n");
    writeBytes(in("A.KO"), "stale\r\n");
    pipeline().runTick();
    EXPECT_FALSE(fileExists(in("A.OK")));
    EXPECT_FALSE(fileExists(in("A.KO")));
    EXPECT_EQ(logLines(), QStringList({kT + ";Ticket=0"}));
}

TEST_F(PipelineTest, FailedQueryGivesTicketZero)
{
    driver.queryResult = 561;
    drop("A.TXT", "X\r\n");
    pipeline().runTick();
    EXPECT_EQ(logLines(), QStringList({kT + ";Ticket=0"}));
    EXPECT_EQ(display.receiptNumber, "0");
}

TEST_F(PipelineTest, OpenCoverIsWaitedOutAndLoggedOncePerLine)
{
    drop("C.TXT", "A\r\nB\r\n");
    driver.answer("A", {{574, 581}, {574, 581}, {574, 581}});
    driver.answer("B", {{574, 581}, {574, 999}});
    pipeline().runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"A", "A", "A", "A", "B", "B"}));
    // B's second answer is 574 without the cover: a real failure.
    EXPECT_EQ(logLines(), QStringList({kT + ";Error=574;Errore esteso;Row 1;A",
                                       kT + ";Error=574;Errore esteso;Row 2;B",
                                       kT + ";Error=574;Errore esteso;Row 2;B"}));
    EXPECT_EQ(readBytes(in("C.KO")), QByteArray("Error=574;Errore esteso;Row 2;B\r\n"));
}

TEST_F(PipelineTest, ExtendedErrorCarriesTheExtendedCode)
{
    drop("E.TXT", "X\r\n");
    driver.answer("X", {{114, 7}});
    pipeline().runTick();
    EXPECT_EQ(readBytes(in("E.KO")),
              QByteArray("Error=114;Errore generico;Row 1;X;Err.Esteso=7\r\n"));
    EXPECT_EQ(logLines(), QStringList({kT + ";Error=114;Errore generico;Row 1;X;Err.Esteso=7"}));
}

TEST_F(PipelineTest, EnglishOffsetFallsBackToItalianText)
{
    settings.Language = "English";
    drop("E.TXT", "X\r\nY\r\n");
    driver.answer("X", {{572, 0}});
    pipeline().runTick();
    EXPECT_EQ(display.error, "Timeout waiting fo a response");
    drop("F.TXT", "X\r\n");
    driver.answer("X", {{17, 0}});
    pipeline().runTick();
    EXPECT_EQ(display.error, "Errore generico");
    EXPECT_EQ(readBytes(in("F.KO")), QByteArray("Error=17;Errore generico;Row 1;X\r\n"));
    drop("G.TXT", "X\r\n");
    driver.answer("X", {{4242, 0}});
    pipeline().runTick();
    EXPECT_EQ(readBytes(in("G.KO")), QByteArray("Error=4242;Errore generico;Row 1;X\r\n"));
    EXPECT_EQ(logLines().size(), 3);
}

TEST_F(PipelineTest, OverlongLineAndBrokenCallFailTheFile)
{
    options.maxLineBytes = 16;
    drop("L.TXT", "OK\r\n" + QByteArray(40, 'x') + "\r\nNEVER\r\n");
    pipeline().runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"OK"}));
    EXPECT_EQ(readBytes(in("L.KO")),
              "Error=30;Buffer overflow;Row 2;" + QByteArray(16, 'x') + "\r\n");

    AllowQtWarnings expected("SendCommand failed");
    drop("M.TXT", "BROKEN\r\nNEVER\r\n");
    driver.answer("BROKEN", {{0, 0, true}});
    pipeline().runTick();
    EXPECT_EQ(readBytes(in("M.KO")),
              QByteArray("Error=571;Impossibile eseguire il comando;Row 1;BROKEN\r\n"));
}

TEST_F(PipelineTest, ListingOrderAndWhatIsACommandFile)
{
    for (const char* name : {"b.txt", "A.TXT", "c.d.Txt", "x.txt.bak", "noext", "Z.OK", "C.TXT"})
        drop(name, QByteArray(name) + "\r\n");
    QDir().mkdir(in("dir.TXT"));
    ASSERT_EQ(mkfifo(in("fifo.TXT").toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(in("b.txt"), in("link.TXT")));
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray sockPath = in("sock.TXT").toLocal8Bit();
    if (static_cast<std::size_t>(sockPath.size()) < sizeof(addr.sun_path)) {
        std::memcpy(addr.sun_path, sockPath.constData(), sockPath.size());
        ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    }
    pipeline().runTick();
    ::close(sock);
    EXPECT_EQ(driver.sentLines(), QStringList({"A.TXT", "b.txt", "c.d.Txt", "C.TXT"}));
    EXPECT_TRUE(fileExists(in("x.txt.bak")));
    EXPECT_TRUE(fileExists(in("fifo.TXT")));
    EXPECT_TRUE(QFileInfo(in("link.TXT")).isSymLink());
    // Its own results and log are never taken as command files.
    driver.sent.clear();
    pipeline().runTick();
    EXPECT_TRUE(driver.sent.empty());
}

TEST_F(PipelineTest, FileArrivingDuringATickIsSentInIt)
{
    drop("A.TXT", "FIRST\r\n");
    driver.onSend = [this](qint32, const QString& line) {
        if (line == "FIRST")
            drop("0.TXT", "LATE\r\n"); // sorts before A, arrives after the listing
    };
    pipeline().runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"FIRST", "LATE"}));
}

TEST_F(PipelineTest, FileStillBeingWrittenWaitsUntilItSettles)
{
    options.settleMs = 300;
    drop("A.TXT", "X\r\n");
    QElapsedTimer timer;
    timer.start();
    pipeline().runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"X"}));
    EXPECT_GE(timer.elapsed(), 200);
}

TEST_F(PipelineTest, UnreadableFileGetsVerdictAndStays)
{
    drop("U.TXT", "X\r\n");
    pipeline().setFileOpener([](const QString&) { return nullptr; });
    pipeline().runTick();
    EXPECT_TRUE(driver.sent.empty());
    EXPECT_TRUE(fileExists(in("U.TXT")));
    const QString record =
        "Error=553;Impossibile inviare scontrino al registratore di cassa.;Row 0;";
    EXPECT_EQ(readBytes(in("U.KO")), (record + "\r\n").toLatin1());
    EXPECT_EQ(logLines(), QStringList({kT + ";" + record}));
    pipeline().runTick(); // unchanged: not tried again
    EXPECT_EQ(logLines().size(), 1);
    pipeline().setFileOpener([](const QString& p) -> std::unique_ptr<QIODevice> {
        auto f = std::make_unique<QFile>(p);
        return f->open(QIODevice::ReadOnly) ? std::move(f) : nullptr;
    });
    drop("U.TXT", "XY\r\n"); // changed: tried again
    pipeline().runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"XY"}));
    EXPECT_FALSE(fileExists(in("U.TXT")));
}

TEST_F(PipelineTest, FileThatCannotBeDeletedIsNotSentAgain)
{
    drop("R.TXT", "X\r\n");
    QFile::setPermissions(in("R.TXT"), QFileDevice::ReadOwner);
    pipeline().runTick();
    pipeline().runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"X"}));
    EXPECT_TRUE(fileExists(in("R.TXT")));
    // The verdict, log line included, comes before the file is found undeletable.
    EXPECT_EQ(logLines(), QStringList({kT + ";Ticket=42", kT + ";NotDeleted=" + in("R.TXT")}));
}

TEST_F(PipelineTest, FailedFileStaysWhenItCannotBeCopied)
{
    settings.DirectoryOutput = dir.file("missing/");
    drop("F.TXT", "X\r\n");
    driver.answer("X", {{17, 0}, {17, 0}});
    AllowQtWarnings fault("Fault in the folder " + dir.file("missing/"));
    pipeline().runTick();
    pipeline().runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"X"}));
    EXPECT_TRUE(fileExists(in("F.TXT")));
    EXPECT_TRUE(fileExists(in("F.KO")));
    EXPECT_EQ(logLines(), QStringList({kT + ";Error=17;Errore generico;Row 1;X",
                                       kT + ";NotCopied=" + in("F.TXT")}));
    EXPECT_EQ(fault.seen(), 1); // shown once, and named
    EXPECT_EQ(display.error, "Impossibile scrivere il file " + dir.file("missing/F.TXT") + ".");
}

TEST_F(PipelineTest, DumpLinesFollowTheCurrentFile)
{
    pipeline().WriteDumpLine("dropped: no file yet");
    EXPECT_TRUE(QDir(dir.file("in")).entryList(QDir::Files).isEmpty());
    driver.queryAnswer = "";
    AllowQtWarnings unreadable("has no receipt number");
    drop("D.TXT", "X\r\n");
    driver.onSend = [this](qint32, const QString&) { pipeline().WriteDumpLine(" during "); };
    pipeline().runTick();
    pipeline().WriteDumpLine("after");
    pipeline().WriteDumpLine("   ");
    EXPECT_EQ(readBytes(in("D.OK")),
              QByteArray("06/12/2026 17:44;Dump= during \r\n06/12/2026 17:44;Dump=after\r\n"));
}

TEST_F(PipelineTest, MissingStartFileIsASuccessWithoutSending)
{
    pipeline().ProcessCommandFile(dir.file("Avvio.txt"), false);
    EXPECT_TRUE(driver.sent.empty());
    EXPECT_EQ(logLines(), QStringList({kT + ";Ticket=42"}));
    EXPECT_TRUE(fileExists(dir.file("Avvio.OK"))); // its dump line names the result base
}

TEST_F(PipelineTest, DocumentResultsLieBesideIt)
{
    writeBytes(dir.file("Conf.orvek"), "X\r\n");
    driver.answer("X", {{17, 0}});
    pipeline().ProcessCommandFile(dir.file("Conf.orvek"), false);
    EXPECT_TRUE(fileExists(dir.file("Conf.KO")));
    EXPECT_TRUE(fileExists(dir.file("Conf.orvek")));
    EXPECT_EQ(outFiles(), QStringList({"202612061744Conf.orvek"}));
}

TEST_F(PipelineTest, LogBoundHolds)
{
    settings.MaxLogDimension = "1";
    for (int i = 0; i < 60; ++i) {
        drop(QStringLiteral("F%1.TXT").arg(i), "X\r\n");
        pipeline().runTick();
    }
    EXPECT_LE(QFileInfo(in("QuorinDriverServer.LOG")).size(), 1024 + 30);
    EXPECT_TRUE(fileExists(in("QuorinDriverServer.LOG.1")));
}

TEST_F(PipelineTest, RunsThroughTheSimulatedRegister)
{
    writeBytes(dir.file("Simulatore.ini"), "[Register]\r\nNextReceipt=1234\r\n[Rules]\r\n"
                                           "Rule1=^BAD => result 17\r\n"
                                           "Rule2=^PAY => cover 1\r\n"
                                           "Rule3=^TOT (\\d+) => dump total $1\r\n");
    SimulatedRegister reg(dir.path(), clock);
    QString port = "1";
    ASSERT_EQ(reg.OpenPort(port), 0);
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    CommandFilePipeline p(settings, reg, display.model, clock, "QuorinDriverServer", options);
    QObject::connect(&reg, &RegisterDriver::DumpData, [&](qint32, qint32 n, const QString& t) {
        if (n > 0)
            p.WriteDumpLine(t);
    });
    drop("A.TXT", "ITEM\r\nPAY\r\nTOT 5\r\n");
    drop("B.TXT", "ITEM\r\nBAD\r\n");
    p.runTick();
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(readBytes(in("A.OK")),
              QByteArray("06/12/2026 17:44;Dump=total 5\r\n06/12/2026 17:44;Dump=1234\r\n"));
    EXPECT_EQ(readBytes(in("B.KO")), QByteArray("Error=17;Errore generico;Row 2;BAD\r\n"));
    EXPECT_EQ(logLines(),
              QStringList({kT + ";Error=574;Errore esteso;Row 2;PAY", kT + ";Ticket=1234",
                           kT + ";Error=17;Errore generico;Row 2;BAD"}));
    EXPECT_EQ(display.receiptNumber, "1.234");
}

namespace {

// Gives its bytes, then fails like a disk that cannot be read any more.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(QByteArray bytes) : m_bytes(std::move(bytes)) { open(ReadOnly); }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        if (m_bytes.isEmpty())
            return -1;
        const qint64 n = std::min<qint64>(max, m_bytes.size());
        memcpy(data, m_bytes.constData(), static_cast<size_t>(n));
        m_bytes.remove(0, n);
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
};

} // namespace

TEST_F(PipelineTest, DriverCallsAndWhatCountsAsText)
{
    // The extended result is read after every line, whatever its result.
    QList<int> readsBeforeEachSend;
    driver.onSend = [&](qint32, const QString&) {
        readsBeforeEachSend << driver.extendedReadsSinceSend;
    };
    drop("A.TXT", "A1\r\nA2\r\n");
    pipeline().runTick();
    readsBeforeEachSend << driver.extendedReadsSinceSend;
    EXPECT_EQ(readsBeforeEachSend, QList<int>({0, 1, 1}));

    // Only blanks make an empty dump: tabs and line breaks are text.
    drop("D.TXT", "X\r\n");
    driver.onSend = [&](qint32, const QString&) {
        pipeline().WriteDumpLine("   ");
        pipeline().WriteDumpLine("\t");
        pipeline().WriteDumpLine("\r\n");
    };
    pipeline().runTick();
    EXPECT_EQ(readBytes(in("D.OK")), QByteArray("06/12/2026 17:44;Dump=\t\r\n"
                                                "06/12/2026 17:44;Dump=\r\n\r\n"
                                                "06/12/2026 17:44;Dump=0042\r\n"));

    // A read error names the row that could not be read.
    driver.onSend = nullptr;
    drop("E.TXT", "E1\r\nE2\r\n");
    pipeline().setFileOpener([](const QString&) -> std::unique_ptr<QIODevice> {
        return std::make_unique<FailingDevice>("E1\r\nE2\r\n");
    });
    pipeline().runTick();
    EXPECT_EQ(
        readBytes(in("E.KO")),
        QByteArray("Error=553;Impossibile inviare scontrino al registratore di cassa.;Row 3;\r\n"));
}

TEST_F(PipelineTest, DocumentNamedLikeItsOwnResultIsNeverTouchedByIt)
{
    for (const char* name : {"Cassa.OK", "Cassa.KO"}) {
        const QByteArray content = "=C1\r\n";
        writeBytes(in(name), content);
        driver.answer("=C1", {{17, 0}});
        pipeline().ProcessCommandFile(in(name), false);
        EXPECT_EQ(readBytes(in(name)), content) << name;
        EXPECT_TRUE(fileExists(in(QString(name) + ".KO"))) << name;
    }
}

TEST_F(PipelineTest, DriverFaultIsShownUntilItClears)
{
    pipeline().setDriverFault("crashed");
    EXPECT_EQ(display.error, "Il driver del registratore non funziona (crashed).");
    EXPECT_EQ(display.toolTip, display.error);
    EXPECT_EQ(display.picture, TrayPicture::Error);
    display.model.fileSent(clock.now(), 1); // a file sent meanwhile cleared the error line
    EXPECT_EQ(display.error, "");
    pipeline().runTick();
    EXPECT_EQ(display.error, "Il driver del registratore non funziona (crashed).");
    pipeline().setDriverFault(QString());
    EXPECT_EQ(display.error, "");
    EXPECT_EQ(display.picture, TrayPicture::Normal);
}

TEST_F(PipelineTest, FileLeftInTheFolderWithItsVerdictIsNotSentAgainAfterARestart)
{
    struct Case
    {
        const char* name;
        std::function<void()> before, mend;
        const char* notice;
    };
    const QString file = in("A.TXT");
    const Case cases[] = {
        {"read-only file", [&] { QFile::setPermissions(file, QFileDevice::ReadOwner); },
         [&] { QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner); },
         "NotDeleted"},
        {"verdict that cannot be written", [&] { QDir().mkdir(in("A.OK")); },
         [&] { QDir().rmdir(in("A.OK")); }, "NoVerdict"},
        {"missing output folder", [&] { QDir(dir.file("out")).removeRecursively(); },
         [&] { QDir().mkdir(dir.file("out")); }, "NotCopied"},
    };
    AllowQtWarnings cannot("Cannot"), fault("Fault in the folder"), again("works again");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver.sent.clear();
        for (const char* name : {"QuorinDriverServer.LOG", "A.OK", "A.KO"})
            QFile::remove(in(name));
        drop("A.TXT", std::strcmp(c.notice, "NotCopied") == 0 ? "BAD\r\n" : "X\r\n");
        driver.answer("BAD", {{17, 0}, {17, 0}});
        c.before();
        pipeline().runTick();
        EXPECT_EQ(driver.sent.size(), 1u);
        EXPECT_TRUE(fileExists(file));
        EXPECT_EQ(logLines().filter(c.notice).size(), 1) << logLines().join('\n').toStdString();
        // A restart remembers it.
        m_pipeline.reset();
        pipeline().recoverInterruptedFile();
        pipeline().runTick();
        EXPECT_EQ(driver.sent.size(), 1u);
        // Changed, it is a new file.
        c.mend();
        drop("A.TXT", "Y\r\n");
        pipeline().runTick();
        EXPECT_EQ(driver.sent.size(), 2u);
        EXPECT_FALSE(fileExists(file));
        m_pipeline.reset();
    }
}

TEST_F(PipelineTest, FailedCopiesOfTheSameNameWithinAMinuteAreNumbered)
{
    driver.answer("BAD", {{17, 0}, {17, 0}, {17, 0}});
    for (int i = 0; i < 3; ++i) {
        drop("SCONTR.TXT", "BAD\r\n");
        pipeline().runTick();
    }
    EXPECT_EQ(outFiles(), QStringList({"202612061744SCONTR.TXT", "202612061744SCONTR_2.TXT",
                                       "202612061744SCONTR_3.TXT"}));
}

TEST_F(PipelineTest, AnotherInstanceOnTheSameInputFolderSendsNothingUntilItIsFree)
{
    PipelineFolders other; // another program folder, the same input folder
    other.settings.DirectoryInput = settings.DirectoryInput;
    FakeDriver otherDriver;
    RecordingDisplay otherDisplay{other.settings};
    auto second = std::make_unique<CommandFilePipeline>(
        other.settings, otherDriver, otherDisplay.model, clock, "QuorinDriverServer", options);
    pipeline().recoverInterruptedFile(); // the first takes the folder
    drop("A.TXT", "X\r\n");
    AllowQtWarnings held("Fault in the folder"), again("works again");
    second->recoverInterruptedFile();
    second->runTick();
    second->runTick();
    EXPECT_TRUE(otherDriver.sent.empty());
    EXPECT_EQ(otherDisplay.error, "Un altro QuorinDriverServer invia i file della cartella " +
                                      in("") + ": qui non si invia nulla.");
    EXPECT_EQ(otherDisplay.picture, TrayPicture::Error);
    EXPECT_EQ(held.seen(), 1);
    m_pipeline.reset(); // the first ends
    second->runTick();
    EXPECT_EQ(otherDriver.sentLines(), QStringList({"X"}));
    EXPECT_EQ(otherDisplay.error, "");
    EXPECT_EQ(again.seen(), 1);
}

TEST_F(PipelineTest, FolderFaultGoingAwayLeavesWhatWasShownSinceInPlace)
{
    AllowQtWarnings fault("Fault in the folder"), again("works again");
    QDir(dir.file("in")).removeRecursively();
    pipeline().runTick();
    EXPECT_EQ(display.error, "La cartella di input " + in("") + " non esiste.");
    // Meanwhile something else is shown there (a file of another way in failed).
    display.model.fileFailed(203);
    const QString since = display.error;
    EXPECT_NE(since, "La cartella di input " + in("") + " non esiste.");
    QDir().mkdir(dir.file("in"));
    pipeline().runTick();
    EXPECT_EQ(display.error, since);
    EXPECT_EQ(display.picture, TrayPicture::Error);
    EXPECT_EQ(again.seen(), 1);
}

TEST_F(PipelineTest, AFaultIsLookedAtAgainEachRoundWhetherFilesArriveOrNot)
{
    AllowQtWarnings fault("Fault in the folder"), again("works again"), cannot("Cannot");
    // The log could not be written while the folder was gone; made again from outside, it
    // works, and no file has to arrive for the window to say so.
    QDir(dir.file("in")).removeRecursively();
    pipeline().runTick();
    pipeline().logNotice("Note", "while the folder is gone");
    QDir().mkdir(dir.file("in"));
    pipeline().runTick();
    EXPECT_EQ(display.error, "");
    EXPECT_EQ(display.picture, TrayPicture::Normal);
    EXPECT_EQ(again.seen(), 1);

    // Another folder chosen instead of a missing one: its fault goes, and the missing one is
    // never said to work again.
    QDir(dir.file("in")).removeRecursively();
    pipeline().runTick();
    EXPECT_NE(display.error, "");
    QDir().mkdir(dir.file("other"));
    settings.DirectoryInput = dir.file("other/");
    pipeline().runTick();
    EXPECT_EQ(display.error, "");
    EXPECT_EQ(again.seen(), 1);
}

TEST_F(PipelineTest, DocumentWhoseResultCannotBeWrittenIsSaidToBeSentNotAFolderFault)
{
    // As with the shipped examples, in a folder nobody may write in; a folder where the result
    // should go stands for it here, as it does for root too.
    QDir().mkpath(dir.file("examples/Esempio.OK"));
    writeBytes(dir.file("examples/Esempio.orvek"), "X\r\n");
    AllowQtWarnings said("Esempio.orvek was sent, but its result could not be written to"),
        old("Cannot remove old result file");
    pipeline().ProcessCommandFile(dir.file("examples/Esempio.orvek"), false);
    EXPECT_EQ(driver.sentLines(), QStringList({"X"}));
    EXPECT_EQ(said.seen(), 1);
    EXPECT_EQ(display.error, dir.file("examples/Esempio.orvek") +
                                 " è stato inviato, ma il suo esito non si può scrivere nel file " +
                                 dir.file("examples/Esempio.OK") + ".");
    // Not a standing fault: the next polled file clears the window as usual.
    drop("A.TXT", "Y\r\n");
    pipeline().runTick();
    EXPECT_EQ(display.error, QString());
}

TEST_F(PipelineTest, ARememberedFileRewrittenWithItsSizeAndTimeKeptIsANewFile)
{
    // "cp -p" over a file left in the folder: same inode, size and time, another sale.
    const QString file = in("A.TXT");
    for (const bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "after a restart" : "in the same run");
        driver.sent.clear();
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        drop("A.TXT", "SALE 1\r\n");
        const QDateTime time = QFileInfo(file).lastModified();
        QFile::setPermissions(file, QFileDevice::ReadOwner);
        pipeline().runTick();
        ASSERT_TRUE(fileExists(file));
        if (restart) {
            m_pipeline.reset();
            pipeline().recoverInterruptedFile();
        }
        pipeline().runTick();
        EXPECT_EQ(driver.sentLines(), QStringList({"SALE 1"}));
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            f.write("SALE 2\r\n");
            f.flush();
            f.setFileTime(time, QFileDevice::FileModificationTime);
        }
        QFile::setPermissions(file, QFileDevice::ReadOwner);
        ASSERT_EQ(QFileInfo(file).lastModified(), time);
        pipeline().runTick();
        pipeline().runTick();
        EXPECT_EQ(driver.sentLines(), QStringList({"SALE 1", "SALE 2"}));
    }
}
