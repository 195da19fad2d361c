// Bad and unusual command files: nothing crashes or hangs, every file gets a clear verdict and
// nothing is lost.
#include "common/Cp1252.h"
#include "common/TextLines.h"
#include "common/platform/FileIo.h"
#include "pipeline/ActivityLog.h"
#include "pipeline/CommandFilePipeline.h"
#include "support/FakeDriver.h"
#include "support/PipelineFolders.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Counts sends without keeping them, for the big inputs.
class CountingDriver : public FakeDriver
{
public:
    qint32 SendCommand(qint32&, qint16, QString& line) override
    {
        ++count;
        longest = std::max(longest, line.size());
        return 0;
    }
    qint64 count = 0;
    qsizetype longest = 0;
};

class BadInputTest : public ::testing::Test, public PipelineFolders
{
protected:
    QStringList commandFiles() const
    {
        return QDir(dir.file("in")).entryList({"*.TXT"}, QDir::Files | QDir::Hidden);
    }
    CommandFilePipeline make(RegisterDriver& driver)
    {
        return CommandFilePipeline(settings, driver, display.model, clock, "QuorinDriverServer",
                                   {1, 0, 65536});
    }

    FakeDriver driver;
    RecordingDisplay display{settings};
    FixedClock clock;
};

long maxRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

TEST_F(BadInputTest, EmptyBlankAndOddlyEndedFiles)
{
    writeBytes(in("1EMPTY.TXT"), "");
    writeBytes(in("2BLANK.TXT"), "\r\n\r\n   \r\n");
    writeBytes(in("3CR.TXT"), "A\rB\r");
    writeBytes(in("4LF.TXT"), "C\nD");
    writeBytes(in("5MIXED.TXT"), "E\r\nF\nG\rH");
    writeBytes(in("6NUL.TXT"), QByteArray("N\0U\0L", 5));
    auto pipeline = make(driver);
    pipeline.runTick();
    EXPECT_EQ(driver.sentLines(),
              QStringList({"", "", "   ", "A", "B", "C", "D", "E", "F", "G", "H",
                           QString("N") + QChar(0) + "U" + QChar(0) + "L"}));
    EXPECT_TRUE(commandFiles().isEmpty());
    EXPECT_EQ(splitTextLines(readBytes(in("QuorinDriverServer.LOG"))).size(), 6);
}

TEST_F(BadInputTest, EveryByteComesBackInTheVerdictAndTheCopy)
{
    QByteArray line;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r' && b != '\n')
            line.append(static_cast<char>(b));
    }
    const QByteArray content = "OK\r\n" + line + "\r\n";
    writeBytes(in("BYTES.TXT"), content);
    driver.answer(decodeCp1252(line), {{17, 0}});
    auto pipeline = make(driver);
    pipeline.runTick();
    EXPECT_EQ(readBytes(in("BYTES.KO")), "Error=17;Errore generico;Row 2;" + line + "\r\n");
    EXPECT_EQ(readBytes(dir.file("out/202612061744BYTES.TXT")), content);
}

TEST_F(BadInputTest, HugeLineAndHugeFileKeepMemoryBounded)
{
    CountingDriver counting;
    auto pipeline = make(counting);
    writeBytes(in("LINE.TXT"), "A\r\n" + QByteArray(1 << 20, 'x') + "\r\n");
    pipeline.runTick();
    EXPECT_EQ(counting.count, 1);
    EXPECT_TRUE(readBytes(in("LINE.KO")).startsWith("Error=30;Buffer overflow;Row 2;xxx"));

    // 100 MB of 60,000-byte lines, written a chunk at a time.
    {
        QFile big(in("BIG.TXT"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        const QByteArray chunk = QByteArray(60000, 'y') + "\r\n";
        for (qint64 written = 0; written < 100'000'000; written += chunk.size())
            big.write(chunk);
    }
    const long before = maxRssKb();
    pipeline.runTick();
    EXPECT_FALSE(fileExists(in("BIG.TXT")));
    EXPECT_EQ(counting.longest, 60000);
    EXPECT_GT(counting.count, 1600);
#if !defined(__SANITIZE_ADDRESS__) // its quarantine holds freed memory on purpose
    EXPECT_LT(maxRssKb() - before, 64 * 1024) << "kB more at peak";
#else
    (void)before;
#endif
}

TEST_F(BadInputTest, UnusualNames)
{
    const QString longName = QString(251, u'L') + ".TXT"; // 255 bytes, the usual limit
    for (const QString& name : {QStringLiteral("with blanks .TXT"), QStringLiteral("caffè€.txt"),
                                QStringLiteral(".hidden.TXT"), longName})
        writeBytes(in(name), encodeCp1252(name.left(20)) + "\r\n");
    driver.answer(longName.left(20), {{17, 0}, {17, 0}});
    auto pipeline = make(driver);
    AllowQtWarnings copyFault("Fault in the folder " + out(""));
    pipeline.runTick();
    EXPECT_EQ(driver.sent.size(), 4u);
    EXPECT_TRUE(fileExists(in("with blanks .OK")));
    EXPECT_TRUE(fileExists(in(QStringLiteral("caffè€.OK"))));
    EXPECT_TRUE(fileExists(in(".hidden.OK")));
    // The long name fails; its dated copy would need a name longer than the file system
    // allows, so the file stays as the only copy and is not sent again.
    EXPECT_TRUE(fileExists(in(QString(251, u'L') + ".KO")));
    EXPECT_EQ(commandFiles(), QStringList({longName}));
    pipeline.runTick();
    EXPECT_EQ(driver.sent.size(), 4u);
}

TEST_F(BadInputTest, FilesThatVanishShrinkOrGrowBeforeReading)
{
    writeBytes(in("GONE.TXT"), "X\r\n");
    writeBytes(in("SHRINK.TXT"), "A\r\nB\r\nC\r\n");
    writeBytes(in("GROW.TXT"), "A\r\n");
    auto pipeline = make(driver);
    pipeline.setFileOpener([this](const QString& path) -> std::unique_ptr<QIODevice> {
        if (path.endsWith("GONE.TXT"))
            QFile::remove(path);
        if (path.endsWith("SHRINK.TXT"))
            writeBytes(path, "S\r\n");
        if (path.endsWith("GROW.TXT"))
            writeBytes(path, "A\r\nG1\r\nG2\r\n");
        auto file = std::make_unique<QFile>(path);
        return file->open(QIODevice::ReadOnly) ? std::move(file) : nullptr;
    });
    pipeline.runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"A", "G1", "G2", "S"}));
    EXPECT_FALSE(fileExists(in("GONE.OK")));
    EXPECT_FALSE(fileExists(in("GONE.KO")));
    EXPECT_TRUE(commandFiles().isEmpty());
    EXPECT_EQ(splitTextLines(readBytes(in("QuorinDriverServer.LOG"))).size(), 2);
}

TEST_F(BadInputTest, InputFolderDeletedAndCreatedAgain)
{
    auto pipeline = make(driver);
    ASSERT_TRUE(QDir(dir.file("in")).removeRecursively());
    AllowQtWarnings reported("folder");
    pipeline.runTick(); // nothing there, nothing breaks
    QDir().mkdir(dir.file("in"));
    writeBytes(in("A.TXT"), "X\r\n");
    pipeline.runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"X"}));
}

TEST_F(BadInputTest, NothingIsWrittenThroughAPlantedLink)
{
    // Whoever may write the input folder plants links (and a FIFO) where the program's own
    // files go: every target stays untouched, and nothing blocks.
    const QString target = dir.file("victim");
    writeBytes(target, "precious\n");
    const char* planted[] = {"QuorinDriverServer.LOG", "QuorinDriverServer.REC", "A.OK", "B.KO"};
    for (const char* name : planted)
        ASSERT_TRUE(QFile::link(target, in(name))) << name;
    ASSERT_TRUE(QFile::link(target, out("202612061744B.TXT")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(in("C.OK")).constData(), 0600), 0);
    writeBytes(in("A.TXT"), "X\r\n");
    writeBytes(in("B.TXT"), "BAD\r\n");
    writeBytes(in("C.TXT"), "Y\r\n");
    FakeDriver driver;
    driver.answer("BAD", {{17, 0}});
    auto pipeline = make(driver);
    AllowQtWarnings replaced("not a plain file");
    pipeline.runTick();
    EXPECT_EQ(readBytes(target), QByteArray("precious\n"));
    EXPECT_EQ(driver.sentLines(), QStringList({"X", "BAD", "Y"}));
    for (const QString& path : {in("QuorinDriverServer.LOG"), in("A.OK"), in("B.KO"), in("C.OK"),
                                out("202612061744B_2.TXT")}) {
        EXPECT_EQ(fileStatus(path).type, FileStatus::Type::Regular) << path.toStdString();
    }
    EXPECT_EQ(readBytes(in("B.KO")), QByteArray("Error=17;Errore generico;Row 1;BAD\r\n"));
    // The copy's name is taken (by the link): it is numbered, and the link left alone.
    EXPECT_EQ(readBytes(out("202612061744B_2.TXT")), QByteArray("BAD\r\n"));
    EXPECT_EQ(fileStatus(out("202612061744B.TXT")).type, FileStatus::Type::Link);
    EXPECT_EQ(splitTextLines(readBytes(in("QuorinDriverServer.LOG"))).size(), 3);
    // The log's rotation does not follow a link either.
    ASSERT_TRUE(QFile::remove(in("QuorinDriverServer.LOG")));
    ASSERT_TRUE(QFile::link(target, in("QuorinDriverServer.LOG")));
    EXPECT_TRUE(ActivityLog(in("QuorinDriverServer.LOG"), 1).append("line"));
    EXPECT_EQ(readBytes(target), QByteArray("precious\n"));
}

TEST_F(BadInputTest, NameThatIsNotUtf8IsSentByItsBytes)
{
    // "CAFFè.TXT" and "BADè.TXT" written by a Windows-1252 producer: byte 0xE8 alone.
    const QByteArray folder = QFile::encodeName(dir.file("in/"));
    const QByteArray outFolder = QFile::encodeName(dir.file("out/"));
    auto raw = [](const QByteArray& path, const QByteArray& bytes) {
        FILE* f = std::fopen(path.constData(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), f);
        std::fclose(f);
    };
    raw(folder + "CAFF\xE8.TXT", "X\r\n");
    raw(folder + "BAD\xE8.TXT", "BAD\r\n");
    FakeDriver driver;
    driver.answer("BAD", {{17, 0}});
    auto pipeline = make(driver);
    pipeline.runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"BAD", "X"}));
    auto exists = [](const QByteArray& path) { return ::access(path.constData(), F_OK) == 0; };
    EXPECT_FALSE(exists(folder + "CAFF\xE8.TXT"));
    EXPECT_FALSE(exists(folder + "BAD\xE8.TXT"));
    EXPECT_TRUE(exists(folder + "CAFF\xE8.OK"));
    EXPECT_TRUE(exists(folder + "BAD\xE8.KO"));
    EXPECT_TRUE(exists(outFolder + "202612061744BAD\xE8.TXT"));
    // A person reads the name in the log as the producer wrote it.
    writeBytes(in("NOTDELETED.TXT"), "Z\r\n");
    raw(folder + "RO\xE8.TXT", "Z\r\n");
    ::chmod((folder + "RO\xE8.TXT").constData(), 0444);
    pipeline.runTick();
    EXPECT_TRUE(readBytes(in("QuorinDriverServer.LOG"))
                    .contains("NotDeleted=" + folder + "RO\xE8.TXT\r\n"));
    // Qt could not remove these names with the temporary folder.
    for (const QByteArray& path :
         {folder + "RO\xE8.TXT", folder + "RO\xE8.OK", folder + "CAFF\xE8.OK",
          folder + "BAD\xE8.KO", outFolder + "202612061744BAD\xE8.TXT"})
        ::unlink(path.constData());
}

TEST_F(BadInputTest, LogNameTakenByAHardLinkOrAFifoIsReplacedNotWrittenThrough)
{
    const QString target = dir.file("victim");
    const QString log = in("QuorinDriverServer.LOG");
    const std::pair<const char*, std::function<bool()>> plants[] = {
        {"hard link",
         [&] { return ::link(QFile::encodeName(target), QFile::encodeName(log)) == 0; }},
        {"FIFO", [&] { return ::mkfifo(QFile::encodeName(log).constData(), 0600) == 0; }},
    };
    for (const auto& [kind, plant] : plants) {
        SCOPED_TRACE(kind);
        writeBytes(target, "precious\n");
        QFile::remove(log);
        ASSERT_TRUE(plant());
        writeBytes(in("A.TXT"), "X\r\n");
        FakeDriver driver;
        auto pipeline = make(driver);
        AllowQtWarnings replaced("not a plain file");
        pipeline.runTick();
        EXPECT_EQ(driver.sentLines(), QStringList({"X"}));
        EXPECT_EQ(readBytes(target), QByteArray("precious\n"));
        EXPECT_EQ(fileStatus(log).type, FileStatus::Type::Regular);
        EXPECT_EQ(splitTextLines(readBytes(log)).size(), 1);
    }
}

TEST_F(BadInputTest, LogNameTakenByAFolderKeepsEveryFileWaiting)
{
    // A folder cannot be replaced like a link: nothing is sent while a file's log line could
    // not be written, and work resumes once the name is free.
    const QString log = in("QuorinDriverServer.LOG");
    ASSERT_TRUE(QDir().mkpath(log + "/inside"));
    writeBytes(in("A.TXT"), "X\r\n");
    writeBytes(in("B.TXT"), "Y\r\n");
    FakeDriver driver;
    auto pipeline = make(driver);
    AllowQtWarnings fault("QuorinDriverServer.LOG");
    pipeline.runTick();
    pipeline.runTick();
    EXPECT_TRUE(driver.sentLines().isEmpty());
    EXPECT_TRUE(fileExists(in("A.TXT")));
    EXPECT_TRUE(fileExists(in("B.TXT")));
    EXPECT_TRUE(display.error.contains("QuorinDriverServer.LOG")) << qPrintable(display.error);
    EXPECT_EQ(fault.seen(), 1);
    ASSERT_TRUE(QDir(log).removeRecursively());
    AllowQtWarnings mended("works again");
    pipeline.runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"X", "Y"}));
    EXPECT_EQ(splitTextLines(readBytes(log)).size(), 2);
    EXPECT_TRUE(display.error.isEmpty()) << qPrintable(display.error);
}
