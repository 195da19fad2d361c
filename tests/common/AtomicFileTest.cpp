#include "common/AtomicFile.h"
#include "common/platform/FileIo.h"
#include "support/DiskStepLog.h"
#include "support/TestSupport.h"

#include <QDir>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

// Files written together take their names only after their one flush; one that cannot take
// its name fails alone, and no temporary file is left behind either way.
TEST(AtomicFile, FilesWrittenTogether)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    writeBytes(folder + "OLD.TXT", "old");
    QDir().mkpath(folder + "BUSY.TXT/inside"); // a non-empty folder: no file can take its name

    const std::vector<OwnFile> files{{folder + "A.TXT", "alpha\r\n", {}},
                                     {folder + "BUSY.TXT", "refused", {}},
                                     {folder + "OLD.TXT", "new", {}},
                                     {folder + "EMPTY.TXT", "", {}}};
    DiskStepLog steps(folder);
    EXPECT_EQ(replaceOwnFiles(files), (std::vector<bool>{true, false, true, true}));
    // No name before the flush that puts its content on the disk: the whole disk's where the
    // system has one, else each file's own.
    const QStringList order = steps.steps();
    const QString wholeDisk = canFlushFilesystem() ? QStringLiteral("FlushFilesystem .") : "";
    for (const char* name : {"A.TXT", "OLD.TXT", "EMPTY.TXT"}) {
        const qsizetype named = order.indexOf(QStringLiteral("Name ") + name);
        ASSERT_GE(named, 0) << name << qPrintable(order.join(u'\n'));
        const QString flush = wholeDisk.isEmpty() ? order.value(named - 1) : wholeDisk;
        const qsizetype flushed = order.indexOf(flush);
        EXPECT_TRUE(flush.startsWith("Flush") && flushed >= 0 && flushed < named)
            << name << '\n'
            << qPrintable(order.join(u'\n'));
    }
    EXPECT_EQ(readBytes(folder + "A.TXT"), "alpha\r\n");
    EXPECT_EQ(readBytes(folder + "OLD.TXT"), "new");
    EXPECT_TRUE(fileExists(folder + "EMPTY.TXT"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);

    EXPECT_EQ(replaceOwnFiles({{folder + "ONE.TXT", "one", {}}}), std::vector<bool>{true});
    EXPECT_EQ(readBytes(folder + "ONE.TXT"), "one");
    EXPECT_TRUE(replaceOwnFiles({}).empty());
}

// A spare written over: its older, longer content never shows through, and its name is gone. A
// spare that is not a plain file of ours alone is never written through: the file is made anew.
TEST(AtomicFile, SparesWrittenOver)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    writeBytes(folder + "OTHER", "someone else's");
    writeBytes(folder + ".plain", "a longer old content");
    writeBytes(folder + ".single", "a longer old content");
    QFile::link(folder + "OTHER", folder + ".symlink");
#ifdef Q_OS_UNIX
    ASSERT_EQ(::link(QFile::encodeName(folder + "OTHER").constData(),
                     QFile::encodeName(folder + ".hardlink").constData()),
              0);
#endif
    const std::vector<OwnFile> files{{folder + "A.TXT", "alpha", folder + ".plain"},
                                     {folder + "B.TXT", "beta", folder + ".missing"},
                                     {folder + "C.TXT", "gamma", folder + ".symlink"},
                                     {folder + "D.TXT", "delta", folder + ".hardlink"}};
    EXPECT_EQ(replaceOwnFiles(files), std::vector<bool>(4, true));
    EXPECT_EQ(replaceOwnFiles({{folder + "E.TXT", "epsilon", folder + ".single"}}),
              std::vector<bool>{true});
    for (const auto& [name, bytes] :
         std::vector<std::pair<QString, QByteArray>>{{"A.TXT", "alpha"},
                                                     {"B.TXT", "beta"},
                                                     {"C.TXT", "gamma"},
                                                     {"D.TXT", "delta"},
                                                     {"E.TXT", "epsilon"},
                                                     {"OTHER", "someone else's"}})
        EXPECT_EQ(readBytes(folder + name), bytes) << name.toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 6);
}
