#include "common/AtomicFile.h"
#include "support/TestSupport.h"

#include <QDir>

// Files written together take their names only after their one flush; one that cannot take
// its name fails alone, and no temporary file is left behind either way.
TEST(AtomicFile, FilesWrittenTogether)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    writeBytes(folder + "OLD.TXT", "old");
    QDir().mkpath(folder + "BUSY.TXT/inside"); // a non-empty folder: no file can take its name

    const std::vector<OwnFile> files{{folder + "A.TXT", "alpha\r\n"},
                                     {folder + "BUSY.TXT", "refused"},
                                     {folder + "OLD.TXT", "new"},
                                     {folder + "EMPTY.TXT", ""}};
    EXPECT_EQ(replaceOwnFiles(files), (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(readBytes(folder + "A.TXT"), "alpha\r\n");
    EXPECT_EQ(readBytes(folder + "OLD.TXT"), "new");
    EXPECT_TRUE(fileExists(folder + "EMPTY.TXT"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);

    EXPECT_EQ(replaceOwnFiles({{folder + "ONE.TXT", "one"}}), std::vector<bool>{true});
    EXPECT_EQ(readBytes(folder + "ONE.TXT"), "one");
    EXPECT_TRUE(replaceOwnFiles({}).empty());
}
