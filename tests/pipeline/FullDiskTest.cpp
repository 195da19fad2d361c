// A full disk: nothing is lost and work resumes once there is space again. Uses a small tmpfs,
// which needs root; elsewhere the test says why it is skipped.
#include "common/TextLines.h"
#include "pipeline/CommandFilePipeline.h"
#include "settings/PrivateProfileFile.h"
#include "support/FakeDriver.h"
#include "support/PipelineFolders.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <sys/mount.h>

namespace {

class SmallDisk
{
public:
    explicit SmallDisk(const QString& path) : m_path(path.toLocal8Bit())
    {
        QDir().mkpath(path);
        m_mounted = ::mount("tmpfs", m_path.constData(), "tmpfs", 0, "size=1m") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount(m_path.constData());
    }
    bool mounted() const { return m_mounted; }
    bool setReadOnly(bool readOnly)
    {
        return ::mount("tmpfs", m_path.constData(), "tmpfs",
                       MS_REMOUNT | (readOnly ? MS_RDONLY : 0), "size=1m") == 0;
    }
    // Fills the disk with one file; returns its path.
    QString fill()
    {
        const QString filler = QString::fromLocal8Bit(m_path) + "/filler";
        QFile f(filler);
        f.open(QIODevice::WriteOnly);
        const QByteArray block(4096, 'f');
        while (f.write(block) == block.size() && f.flush()) {
        }
        return filler;
    }

private:
    QByteArray m_path;
    bool m_mounted = false;
};

// Input folder on a small disk of its own.
class FullDiskTest : public ::testing::Test, public PipelineFolders
{
protected:
    void SetUp() override
    {
        if (!disk.mounted())
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root with CAP_SYS_ADMIN)";
    }

    SmallDisk disk{dir.file("in")};
    FakeDriver driver;
    RecordingDisplay display{settings};
    FixedClock clock;
    CommandFilePipeline pipeline{settings,     driver, display.model, clock, "QuorinDriverServer",
                                 {1, 0, 65536}};
};

} // namespace

TEST_F(FullDiskTest, NothingIsLostAndWorkResumes)
{

    writeBytes(dir.file("in/A.TXT"), "X\r\n");
    const QString ini = dir.file("in/ZEZOVURADUR.INI");
    writeBytes(ini, "[Parameters]\r\nPort=1\r\n");
    const QString filler = disk.fill();

    AllowQtWarnings expected("Cannot"), reported("Fault in the folder"), again("works again");
    pipeline.runTick();
    EXPECT_TRUE(driver.sent.empty()); // without room for its verdict nothing is sent
    EXPECT_TRUE(fileExists(dir.file("in/A.TXT")));
    EXPECT_EQ(display.error, "Spazio su disco insufficiente nella cartella " + dir.file("in/") +
                                 ": i file attendono.");
    EXPECT_EQ(display.picture, TrayPicture::Error);
    EXPECT_FALSE(PrivateProfileFile(ini).writeString("Parameters", "Language", QString(5000, 'x')));
    EXPECT_EQ(readBytes(ini), QByteArray("[Parameters]\r\nPort=1\r\n")); // never half written

    QFile::remove(filler);
    pipeline.runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"X"}));
    EXPECT_FALSE(fileExists(dir.file("in/A.TXT")));
    EXPECT_EQ(readBytes(dir.file("in/A.OK")), QByteArray("06/12/2026 17:44;Dump=0042\r\n"));
    EXPECT_EQ(splitTextLines(readBytes(dir.file("in/QuorinDriverServer.LOG"))).size(), 1);
}

TEST_F(FullDiskTest, DiskFillingUpDuringASend)
{
    writeBytes(dir.file("in/A.TXT"), "X\r\n");
    writeBytes(dir.file("in/B.TXT"), "BAD\r\n");
    writeBytes(dir.file("in/C.TXT"), "Y\r\n");
    driver.answer("BAD", {{17, 0}});
    QString filler;
    driver.onSend = [&](qint32, const QString&) {
        if (filler.isEmpty())
            filler = disk.fill();
    };
    AllowQtWarnings expected("Cannot"), reported("Fault in the folder"), again("works again");
    pipeline.runTick();
    // The file being sent takes its verdict from the room kept for it; the next ones find no
    // room and wait, shown once on standard error.
    EXPECT_EQ(driver.sentLines(), QStringList({"X"}));
    EXPECT_FALSE(fileExists(dir.file("in/A.TXT")));
    EXPECT_EQ(readBytes(dir.file("in/A.OK")), QByteArray("06/12/2026 17:44;Dump=0042\r\n"));
    EXPECT_TRUE(fileExists(dir.file("in/B.TXT")));
    EXPECT_TRUE(display.error.startsWith("Spazio su disco insufficiente"))
        << display.error.toStdString();
    pipeline.runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"X"}));
    EXPECT_EQ(reported.seen(), 1);

    QFile::remove(filler);
    driver.onSend = nullptr;
    pipeline.runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"X", "BAD", "Y"}));
    EXPECT_EQ(readBytes(dir.file("in/B.KO")), QByteArray("Error=17;Errore generico;Row 1;BAD\r\n"));
    EXPECT_EQ(QDir(dir.file("out")).entryList(QDir::Files), QStringList({"202612061744B.TXT"}));
    EXPECT_EQ(readBytes(dir.file("in/C.OK")), QByteArray("06/12/2026 17:44;Dump=0042\r\n"));
    EXPECT_TRUE(QDir(dir.file("in")).entryList({"*.TXT"}).isEmpty());
}

TEST_F(FullDiskTest, ReadOnlyFolderIsShownOnceAndClearsByItself)
{
    writeBytes(dir.file("in/A.TXT"), "X\r\n");
    ASSERT_TRUE(disk.setReadOnly(true));
    AllowQtWarnings reported("Fault in the folder"), cleared("works again");
    pipeline.runTick();
    pipeline.runTick();
    // A file sent there could not be deleted, and would be sent again after a restart.
    EXPECT_TRUE(driver.sent.empty());
    const QString text = "Impossibile scrivere nella cartella di input " + dir.file("in/") + ".";
    EXPECT_EQ(display.error, text);
    EXPECT_EQ(display.toolTip, text);
    EXPECT_EQ(display.picture, TrayPicture::Error);
    EXPECT_EQ(display.raised, 1);
    EXPECT_EQ(reported.seen(), 1);

    ASSERT_TRUE(disk.setReadOnly(false));
    pipeline.runTick();
    EXPECT_EQ(driver.sentLines(), QStringList({"X"}));
    EXPECT_EQ(display.error, "");
    EXPECT_EQ(display.picture, TrayPicture::Normal);
    EXPECT_EQ(display.toolTip, "Quorin Server - ORVEK S.P.A.");
    EXPECT_EQ(cleared.seen(), 1);
}
