#include "pipeline/VerdictWriter.h"
#include "pipeline/CrashRecovery.h"
#include "pipeline/PipelineFaults.h"
#include "support/FakeDriver.h"
#include "support/PipelineFolders.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>

namespace {

class VerdictWriterTest : public ::testing::Test, public PipelineFolders
{
protected:
    QStringList log() const
    {
        return QString(readBytes(in("QuorinDriverServer.LOG"))).split("\r\n");
    }

    FakeDriver driver;
    RecordingDisplay display{settings};
    FixedClock clock;
    InputFolderScanner scanner;
    RecoveryRecord record{in("QuorinDriverServer.REC")};
    PipelineFaults faults{settings, display.model};
    VerdictWriter verdicts{settings, driver, display.model, clock, "QuorinDriverServer",
                           scanner,  record, faults};
};

} // namespace

TEST_F(VerdictWriterTest, OnePlaceDecidesWhatBecomesOfTheFile)
{
    enum class Fate { Deleted, PassedOver, Stays };
    struct Case
    {
        const char* name;
        bool polled;
        qint32 result;
        std::function<void()> before;
        Fate fate;
        const char* notice; // the log's note on a file left behind
        const char* verdict;
    };
    const QString file = in("A.TXT");
    const Case cases[] = {
        {"sent", true, 0, [] {}, Fate::Deleted, nullptr, "A.OK"},
        {"sent, read-only", true, 0, [&] { QFile::setPermissions(file, QFile::ReadOwner); },
         Fate::PassedOver, "NotDeleted", "A.OK"},
        {"sent, verdict not written", true, 0, [&] { QDir().mkdir(in("A.OK")); }, Fate::PassedOver,
         "NoVerdict", nullptr},
        {"failed", true, 17, [] {}, Fate::Deleted, nullptr, "A.KO"},
        {"failed, no copy", true, 17, [&] { QDir(dir.file("out")).removeRecursively(); },
         Fate::PassedOver, "NotCopied", "A.KO"},
        {"given", false, 0, [] {}, Fate::Stays, nullptr, "A.OK"},
        {"given, failed", false, 17, [] {}, Fate::Stays, nullptr, "A.KO"},
    };
    AllowQtWarnings faultsSaid("Fault in the folder"), mended("works again"), flush("Cannot flush"),
        old("Cannot remove old result");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(dir.file("in")).removeRecursively();
        QDir().mkpath(dir.file("in"));
        QDir().mkpath(dir.file("out"));
        scanner = InputFolderScanner();
        writeBytes(file, "X\r\n");
        c.before();
        const QString base = verdicts.startResults(file);
        verdicts.finish(file, c.polled, LinesSent{c.result, 1, "X"}, base);
        EXPECT_EQ(fileExists(file), c.fate != Fate::Deleted);
        EXPECT_EQ(scanner.passedOver().contains(file), c.fate == Fate::PassedOver);
        const QStringList notes =
            log().filter(QRegularExpression(";(NotDeleted|NoVerdict|NotCopied)="));
        EXPECT_EQ(notes.size(), c.notice ? 1 : 0);
        if (c.notice) {
            EXPECT_TRUE(notes.value(0).endsWith(QString(";%1=%2").arg(c.notice, file)));
        }
        if (c.verdict) {
            EXPECT_TRUE(QFileInfo(in(c.verdict)).isFile());
        }
        const int copies = QDir(dir.file("out")).entryList(QDir::Files).size();
        EXPECT_EQ(copies, c.result != 0 && std::string(c.name) != "failed, no copy" ? 1 : 0);
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    }
}

TEST_F(VerdictWriterTest, FaultsAreToldOnceAndAGivenFilesResultIsNotAFolderFault)
{
    const QString logFile = in("QuorinDriverServer.LOG");
    AllowQtWarnings said("Fault in the folder " + in("") + ": Impossibile scrivere il file " +
                         logFile),
        again("The folder " + in("") + " works again");
    faults.fileWritten(PipelineFaults::Source::Log, true, logFile);
    faults.fileWritten(PipelineFaults::Source::Log, true, logFile);
    EXPECT_EQ(said.seen(), 1);
    EXPECT_EQ(display.error, "Impossibile scrivere il file " + logFile + ".");
    faults.fileWritten(PipelineFaults::Source::Log, false, logFile);
    EXPECT_EQ(again.seen(), 1);
    EXPECT_EQ(display.error, "");

    faults.beginGivenFile();
    faults.fileWritten(PipelineFaults::Source::ResultFile, true, "/usr/share/doc/Esempio.OK");
    EXPECT_EQ(display.error, "");
    EXPECT_EQ(faults.endGivenFile(), QString("/usr/share/doc/Esempio.OK"));
    EXPECT_EQ(faults.endGivenFile(), std::nullopt);

    // The driver tells its own faults on standard error; the window shows them.
    faults.setDriverFault("crashed");
    EXPECT_TRUE(display.model.driverFault());
    EXPECT_EQ(display.error, "Il driver del registratore non funziona (crashed).");
    EXPECT_EQ(said.seen(), 1);
}

TEST_F(VerdictWriterTest, TakingOverAFolderClearsWhatAKilledInstanceLeft)
{
    writeBytes(in(".qds-1a2b.tmp"), "half a verdict");
    writeBytes(out(".qds-9z.tmp"), "half a copy");
    writeBytes(in(".qds-notours"), "someone else's");
    writeBytes(in("LEFT.TXT"), "X\r\n");
    writeBytes(in("REWRITTEN.TXT"), "Y\r\n");
    writeBytes(in("OLDRECORD.TXT"), "Z\r\n");
    ASSERT_EQ(record.open(), RecoveryRecord::Opened::Newly);
    auto left = [&](const char* name, const QByteArray& digest) {
        return LeftFile{in(name), *commandFileSignature(in(name)), digest};
    };
    ASSERT_TRUE(record.setLeftFiles(
        {left("LEFT.TXT", InputFolderScanner::contentDigest(in("LEFT.TXT"))),
         // the same size, time and inode, another sale in it
         left("REWRITTEN.TXT", InputFolderScanner::contentDigest(in("LEFT.TXT"))),
         // an earlier version kept no digest
         left("OLDRECORD.TXT", {}), LeftFile{in("CHANGED.TXT"), FileSignature{}, {}}}));
    ASSERT_EQ(RecoveryRecord::readLeftFiles(record.path()).mid(0, 3), record.leftFiles().mid(0, 3));
    CrashRecovery recovery(settings, record, scanner, verdicts, faults, 65536);
    recovery.takeOver();
    EXPECT_FALSE(fileExists(in(".qds-1a2b.tmp")));
    EXPECT_FALSE(fileExists(out(".qds-9z.tmp")));
    EXPECT_TRUE(fileExists(in(".qds-notours")));
    // A file left with its verdict and unchanged since is not sent again; one that changed is.
    QList<QString> passed = scanner.passedOver().keys();
    std::sort(passed.begin(), passed.end());
    EXPECT_EQ(passed, QList<QString>({in("LEFT.TXT"), in("OLDRECORD.TXT")}));
}
