#include "shell/PrivateProfileFile.h"
#include "support/TestSupport.h"

namespace {

class PrivateProfileFileTest : public ::testing::Test
{
protected:
    QString ini() const { return dir.file("t.ini"); }
    QString read(const char* section, const char* key, const char* def = "DEF", int size = 255)
    {
        return PrivateProfileFile(ini()).readString(section, key, def, size);
    }
    TempFolder dir;
};

} // namespace

TEST_F(PrivateProfileFileTest, ReadsLikeTheWindowsFunctions)
{
    writeBytes(ini(), "; comment\r\n"
                      "[other]\r\nPort=9\r\n"
                      "  [ parameters ]  \r\n"
                      "  port  =  3  \r\n"
                      "PORT=4\r\n"
                      "Empty=\r\n"
                      "Dq=\" quoted \"\r\n"
                      "Sq='single'\r\n"
                      "Mixed=\"ab'\r\n"
                      "Lone=\"\r\n"
                      ";Language=English\r\n"
                      "NoEquals\r\n"
                      "Inner=a = b ;not a comment\r\n"
                      "[Parameters]\r\nBaudRate=19200\r\n");
    EXPECT_EQ(read("Parameters", "Port"), "3");      // case, blanks, first duplicate
    EXPECT_EQ(read("Parameters", "Empty"), "");      // present but empty: not the default
    EXPECT_EQ(read("Parameters", "Dq"), " quoted "); // quotes removed, inner blanks kept
    EXPECT_EQ(read("Parameters", "Sq"), "single");
    EXPECT_EQ(read("Parameters", "Mixed"), "\"ab'");
    EXPECT_EQ(read("Parameters", "Lone"), "\"");
    EXPECT_EQ(read("Parameters", "Language"), "DEF"); // commented out
    EXPECT_EQ(read("Parameters", "NoEquals"), "DEF");
    EXPECT_EQ(read("Parameters", "Inner"), "a = b ;not a comment");
    EXPECT_EQ(read("Parameters", "BaudRate"), "DEF"); // only the first section counts
    EXPECT_EQ(read("Missing", "Port"), "DEF");
    EXPECT_EQ(PrivateProfileFile(ini()).keys("parameters"),
              QStringList({"port", "Empty", "Dq", "Sq", "Mixed", "Lone", "Inner"}));
}

TEST_F(PrivateProfileFileTest, MissingFileLongValuesAndCrOnlyLines)
{
    EXPECT_EQ(read("Parameters", "Port", "1"), "1");
    writeBytes(ini(), "[P]\rA=" + QByteArray(300, 'v') + "\rB=\xE8\r");
    EXPECT_EQ(read("P", "A").size(), 254);
    EXPECT_EQ(read("P", "A", "", 10), QString(9, u'v'));
    EXPECT_EQ(read("P", "B"), QStringLiteral("è"));
}

TEST_F(PrivateProfileFileTest, WriterKeepsEveryOtherByte)
{
    const QByteArray original = "; settings\n"
                                "[Other]\r\nPort=9\r\n\r\n"
                                "[Parameters]\r\n"
                                "Port = 1 \r\n"
                                ";kept comment\r\n"
                                "Language=Italiano\r\n"
                                "\r\n"
                                "[Tail]\rX=\x80";
    writeBytes(ini(), original);
    PrivateProfileFile file(ini());
    ASSERT_TRUE(file.writeString("PARAMETERS", "port", "3"));
    ASSERT_TRUE(file.writeString("Parameters", "Frequence", "10"));
    EXPECT_EQ(readBytes(ini()), QByteArray("; settings\n"
                                           "[Other]\r\nPort=9\r\n\r\n"
                                           "[Parameters]\r\n"
                                           "Port=3\r\n"
                                           ";kept comment\r\n"
                                           "Language=Italiano\r\n"
                                           "Frequence=10\r\n"
                                           "\r\n"
                                           "[Tail]\rX=\x80"));
    ASSERT_TRUE(file.writeString("New", "K", "\u00E8"));
    EXPECT_TRUE(readBytes(ini()).endsWith("[Tail]\rX=\x80\r\n[New]\r\nK=\xE8\r\n"));
    EXPECT_EQ(file.readString("new", "k", ""), QStringLiteral("è"));
}

TEST_F(PrivateProfileFileTest, WriterCreatesTheFileAndLeavesNoTemporary)
{
    PrivateProfileFile file(ini());
    ASSERT_TRUE(file.writeString("Parameters", "Port", "2"));
    EXPECT_EQ(readBytes(ini()), QByteArray("[Parameters]\r\nPort=2\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"t.ini"}));
    // A folder that does not exist: nothing written, a failure reported.
    EXPECT_FALSE(PrivateProfileFile(dir.file("no/t.ini")).writeString("P", "K", "V"));
}
