#include "settings_dialog/SetUpChoices.h"
#include "settings/PrivateProfileFile.h"
#include "support/TestSupport.h"

using namespace SetUpChoices;

TEST(SetUpChoices, SelectionOnOpening)
{
    EXPECT_EQ(portIndex("1"), 0);
    EXPECT_EQ(portIndex("01"), 0); // compared as a number
    EXPECT_EQ(portIndex("4"), 3);
    for (const char* none : {"7", "0", "", "COM1", "x"})
        EXPECT_EQ(portIndex(none), -1) << none;
    EXPECT_EQ(baudIndex("9600"), 0);
    for (const char* other : {" 9600", "9600 ", "4800", "19200", ""})
        EXPECT_EQ(baudIndex(other), 1) << other;
    EXPECT_EQ(languageIndex("iTaLiAnO"), 0);
    EXPECT_EQ(languageIndex(""), 1);
    EXPECT_EQ(frequencyItems()[frequencyIndex("5")], "  5");
    EXPECT_EQ(frequencyIndex("30"), 9);
    for (const char* none : {"05", "6", " 5", ""}) // compared as text, the field untrimmed
        EXPECT_EQ(frequencyIndex(none), -1) << none;
    EXPECT_EQ(logItems()[logIndex("128")], "  128");
    EXPECT_EQ(logIndex("100"), -1);
}

TEST(SetUpChoices, OkWritesTheSevenKeysInOrder)
{
    TempFolder dir;
    const SettingsFile file(dir.path());
    Settings s;
    s.DirectoryInput = " /in/ ";
    s.DirectoryOutput = "/out/";
    s = applyOk(s, {"  5", "  128", " 9600", "COM1", "Italiano"}, file);
    EXPECT_EQ(readBytes(file.path()),
              QByteArray("[Parameters]\r\nFrequence=5\r\n"
                         "MaxLogDimension=128\r\nBaudRate=9600\r\nPort=1\r\n"
                         "Language=Italiano\r\nDirectoryInput=/in/\r\n"
                         "DirectoryOutput=/out/\r\n"));
    EXPECT_EQ(s.DirectoryInput, " /in/ "); // memory keeps its blanks
    EXPECT_EQ(s.Frequence, "5");
    EXPECT_EQ(s.Port, "1");
    EXPECT_EQ(s.languageOffset(), 0);
    s = applyOk(s, {"  5", "  128", "19200", "COM3", "English"}, file);
    EXPECT_EQ(s.languageOffset(), 1000);
    const PrivateProfileFile ini(file.path());
    EXPECT_EQ(ini.readString("Parameters", "Port", ""), "3");
    EXPECT_EQ(ini.readString("Parameters", "BaudRate", ""), "19200");
}

TEST(SetUpChoices, ListsWithoutSelectionLeaveFieldAndKey)
{
    TempFolder dir;
    writeBytes(dir.file("ZEZOVURADUR.INI"),
               "; hand written\r\n[Other]\r\nA=1\r\n[Parameters]\r\nPort=7\r\nFrequence=6\r\n"
               "MaxLogDimension=100\r\n;note\r\n");
    const SettingsFile file(dir.path());
    Settings s = SettingsFile(dir.path()).load();
    s = applyOk(s, {"", "", " 9600", "", "English"}, file);
    EXPECT_EQ(s.Port, "7");
    EXPECT_EQ(s.Frequence, "6");
    EXPECT_EQ(s.MaxLogDimension, "100");
    const QByteArray written = readBytes(file.path());
    EXPECT_TRUE(written.startsWith("; hand written\r\n[Other]\r\nA=1\r\n[Parameters]\r\nPort=7\r\n"
                                   "Frequence=6\r\nMaxLogDimension=100\r\n;note\r\nBaudRate=9600"));
    // What the dialog wrote is what the next start reads.
    const Settings again = SettingsFile(dir.path()).load();
    EXPECT_EQ(again.Language, "English");
    EXPECT_EQ(again.BaudRate, "9600");
    EXPECT_EQ(again.DirectoryInput, s.DirectoryInput);
    EXPECT_EQ(again.DirectoryOutput, s.DirectoryOutput);
}

TEST(SetUpChoices, ChosenFolders)
{
    Settings s;
    s.DirectoryInput = "/old-in/";
    s.DirectoryOutput = "/old-out/";
    EXPECT_EQ(folderBrowserTitleId(0), 515);
    EXPECT_EQ(folderBrowserTitleId(1), 516);
    EXPECT_EQ(folderBrowserTitleId(-1), 515);
    storeChosenFolder(s, -1, "/dropped");
    storeChosenFolder(s, 1, "/new-out");
    storeChosenFolder(s, 0, "/");
    EXPECT_EQ(s.DirectoryInput, "/");
    EXPECT_EQ(s.DirectoryOutput, "/new-out/");
}
