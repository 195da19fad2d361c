#include "settings/PrivateProfileFile.h"
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

TEST_F(PrivateProfileFileTest, HeadersNulsDefaultsAndNamesAsWindowsReadsThem)
{
    writeBytes(ini(), QByteArray("[A]\r\n"
                                 "K1=in A\r\n"
                                 "[broken\r\n"
                                 "K2=still in A\r\n"
                                 " [B] x] \r\n"
                                 "K3=in B] x\r\n"
                                 "K4=cut\0here\r\n"
                                 "[C\0]\r\n"
                                 "K5=in B after a cut header\r\n",
                                 107));
    struct Case
    {
        const char* section;
        const char* key;
        const char* def;
        const char* expected;
    };
    const Case cases[] = {
        {"A", "K2", "D", "still in A"}, // "[" without "]" is no header
        {"B] x", "K3", "D", "in B] x"}, // the name runs to the last "]"
        {"B] x", "K4", "D", "cut"},     // a NUL ends the line
        {"B] x", "K5", "D", "in B after a cut header"},
        {" A ", " K1 ", "D", "in A"},         // blanks around the names asked for
        {"A", "none", "def  \t ", "def  \t"}, // trailing spaces of the default go, tabs stay
        {"A", "none", "abc\t", "abc\t"},
        {"A", "none", "   ", " "}, // but one of a default of blanks stays
        {"A", "none", "\"quoted\"", "quoted"},
        {"A", "none", "'q'  ", "q"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read(c.section, c.key, c.def), c.expected) << c.section << "/" << c.key;
}

TEST_F(PrivateProfileFileTest, WriterFollowsWindows)
{
    // The same value again leaves the file as it is, byte for byte.
    const QByteArray original = "[P]\r\nK = \"v\"   \n";
    writeBytes(ini(), original);
    PrivateProfileFile file(ini());
    EXPECT_TRUE(file.writeString(" P ", " K ", "  v"));
    EXPECT_EQ(readBytes(ini()), original);
    // Names given are trimmed, and the value's leading blanks dropped.
    EXPECT_TRUE(file.writeString(" P ", " New ", "  w x "));
    EXPECT_EQ(readBytes(ini()), QByteArray("[P]\r\nK = \"v\"   \nNew=w x \r\n"));

    // A UTF-16LE file (Notepad's "Unicode") is read as such and stays UTF-16LE with its mark.
    auto utf16 = [](const QString& text) {
        QByteArray bytes("\xFF\xFE", 2);
        for (QChar c : text)
            bytes.append(static_cast<char>(c.unicode() & 0xFF))
                .append(static_cast<char>(c.unicode() >> 8));
        return bytes;
    };
    writeBytes(ini(), utf16(QStringLiteral("[P]\r\nCittà=perché €\r\n")));
    EXPECT_EQ(read("P", "Città"), QStringLiteral("perché €"));
    EXPECT_TRUE(file.writeString("P", "Lingua", QStringLiteral("Italiano")));
    EXPECT_EQ(readBytes(ini()),
              utf16(QStringLiteral("[P]\r\nCittà=perché €\r\nLingua=Italiano\r\n")));
}
