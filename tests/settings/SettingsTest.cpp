#include "settings/Settings.h"
#include "driver/CommandLine.h"
#include "support/TestSupport.h"

#include <QDir>

TEST(Settings, DefaultsWithoutFileCreateBothFolders)
{
    TempFolder dir;
    const Settings s = SettingsFile(dir.path()).load();
    EXPECT_EQ(s.DirectoryInput, dir.path() + "/TOSEND/");
    EXPECT_EQ(s.DirectoryOutput, dir.path() + "/UNSENT/");
    EXPECT_EQ(s.Language, "Italiano");
    EXPECT_EQ(s.languageOffset(), 0);
    EXPECT_EQ(s.BaudRate, "9600");
    EXPECT_EQ(s.Port, "1");
    EXPECT_EQ(s.Frequence, "5");
    EXPECT_EQ(s.MaxLogDimension, "128");
    EXPECT_TRUE(QDir(s.DirectoryInput).exists());
    EXPECT_TRUE(QDir(s.DirectoryOutput).exists());
    EXPECT_FALSE(fileExists(dir.file("ZEZOVURADUR.INI")));
}

TEST(Settings, ValuesFromTheFile)
{
    TempFolder dir;
    const QByteArray in = (dir.path() + "/in").toUtf8();
    writeBytes(dir.file("ZEZOVURADUR.INI"),
               "[Parameters]\r\nDirectoryInput=" + in + "\r\nDirectoryOutput=" + in +
                   "/out/\r\nLanguage=English\r\nBaudRate=19200\r\nPort=3\r\nFrequence=10\r\n"
                   "MaxLogDimension=256\r\n");
    const Settings s = SettingsFile(dir.path()).load();
    EXPECT_EQ(s.DirectoryInput, QString(in) + "/");
    EXPECT_EQ(s.DirectoryOutput, QString(in) + "/out/");
    EXPECT_EQ(s.languageOffset(), 1000);
    EXPECT_EQ(s.Port, "3");
    EXPECT_EQ(s.Frequence, "10");
    EXPECT_EQ(s.MaxLogDimension, "256");
    // Output is created before input, one level only: the output inside the missing input
    // folder is not there, the input folder is.
    EXPECT_TRUE(QDir(s.DirectoryInput).exists());
    EXPECT_FALSE(QDir(s.DirectoryOutput).exists());
}

TEST(Settings, LanguageOffsetRule)
{
    for (const char* it : {"ITALIANO", "Italiano", "iTaLiAnO"})
        EXPECT_EQ(languageOffsetFor(it), 0) << it;
    for (const char* other : {"English", "", "Italiano ", "Italian"})
        EXPECT_EQ(languageOffsetFor(other), 1000) << other;
}

TEST(Settings, EmptyFolderValuesUseDefaultsAndLongValuesAreCut)
{
    TempFolder dir;
    writeBytes(dir.file("ZEZOVURADUR.INI"),
               "[parameters]\r\nDirectoryInput=\r\nDirectoryOutput=\"\"\r\nLanguage=" +
                   QByteArray(300, 'x') + "\r\n");
    const Settings s = SettingsFile(dir.path()).load();
    EXPECT_EQ(s.DirectoryInput, dir.path() + "/TOSEND/");
    EXPECT_EQ(s.DirectoryOutput, dir.path() + "/UNSENT/");
    EXPECT_EQ(s.Language.size(), 254);
}

TEST(Settings, IntervalAndLogLimitFallBackOnBadNumbers)
{
    EXPECT_EQ(pollingIntervalMs("5"), 5000);
    EXPECT_EQ(pollingIntervalMs("30"), 30000);
    EXPECT_EQ(pollingIntervalMs("0.5"), 500);
    for (const char* bad : {"", "0", "-3", "abc", "nan", "inf"})
        EXPECT_EQ(pollingIntervalMs(bad), 5000) << bad;
    EXPECT_EQ(pollingIntervalMs("999999999"), 86400000);
    EXPECT_EQ(logLimitBytes("128"), 131072);
    EXPECT_EQ(logLimitBytes("1024"), 1048576);
    for (const char* bad : {"", "0", "-1", "x"})
        EXPECT_EQ(logLimitBytes(bad), 131072) << bad;
}

TEST(Settings, DriverStartTimeoutDefaultsToTheCallTimeout)
{
    TempFolder dir;
    struct Case
    {
        const char* driverSection;
        int timeoutMs, startTimeoutMs;
    };
    const Case cases[] = {
        {"", 30000, 30000},
        {"Timeout=2\r\n", 2000, 2000},
        {"Timeout=1\r\nStartTimeout=45\r\n", 1000, 45000},
        {"Timeout=1\r\nStartTimeout=soon\r\n", 1000, 1000},
    };
    for (const Case& c : cases) {
        writeBytes(dir.file("ZEZOVURADUR.INI"), QByteArray("[Driver]\r\n") + c.driverSection);
        const DriverSettings d = SettingsFile(dir.path()).loadDriver();
        EXPECT_EQ(d.timeoutMs(), c.timeoutMs) << c.driverSection;
        EXPECT_EQ(d.startTimeoutMs(), c.startTimeoutMs) << c.driverSection;
    }
}

TEST(Settings, ADriverProgramInQuotesKeepsItsSpaces)
{
    TempFolder dir;
    struct Case
    {
        const char* program;
        QStringList words;
    };
    const Case cases[] = {
        {"'/opt/my drivers/drv'", {"/opt/my drivers/drv"}},
        {"\"/opt/my drivers/drv\"", {"/opt/my drivers/drv"}},
        {"\"/opt/my drivers/drv\" --port 3 'a b'", {"/opt/my drivers/drv", "--port", "3", "a b"}},
        {"/opt/drv -v", {"/opt/drv", "-v"}},
    };
    for (const Case& c : cases) {
        writeBytes(dir.file("ZEZOVURADUR.INI"),
                   QByteArray("[Driver]\r\nProgram=") + c.program + "\r\n");
        const DriverSettings d = SettingsFile(dir.path()).loadDriver();
        EXPECT_EQ(splitCommandLine(d.Program).value_or(QStringList()), c.words) << c.program;
    }
}

TEST(Settings, TheSettingsWriterKeepsTheHttpAndMqttSections)
{
    TempFolder dir;
    writeBytes(dir.file("ZEZOVURADUR.INI"),
               "[Http]\r\nListen=127.0.0.1:8750\r\nToken=abcdefghijklmnop\r\n"
               "AllowOrigin=https://pos.example\r\n"
               "[Mqtt]\r\nBroker=mqtts://b.example:8883\r\nTopic=shops/roma-12/cassa1\r\n"
               "PasswordFile=/etc/quorin/pw\r\nSessionDays=3\r\n");
    const SettingsFile file(dir.path());
    Settings settings = file.load();
    settings.Port = QStringLiteral("3");
    file.write(settings, {SettingKey::Port, SettingKey::Language});
    const HttpSettings http = file.loadHttp();
    EXPECT_TRUE(http.enabled());
    EXPECT_EQ(http.Listen, "127.0.0.1:8750");
    EXPECT_EQ(http.Token, "abcdefghijklmnop");
    EXPECT_EQ(http.AllowOrigin, "https://pos.example");
    const MqttSettings mqtt = file.loadMqtt();
    EXPECT_TRUE(mqtt.enabled());
    EXPECT_EQ(mqtt.Broker, "mqtts://b.example:8883");
    EXPECT_EQ(mqtt.Topic, "shops/roma-12/cassa1");
    EXPECT_EQ(mqtt.PasswordFile, "/etc/quorin/pw");
    EXPECT_EQ(mqtt.SessionDays, "3");
    EXPECT_EQ(file.load().Port, "3");
}

TEST(Settings, SurvivesBadFiles)
{
    TempFolder dir;
    const QString ini = dir.file("ZEZOVURADUR.INI");
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(static_cast<char>((i * 7919) % 256));
    writeBytes(ini, garbage);
    EXPECT_EQ(SettingsFile(dir.path()).load().Port, "1");

    writeBytes(ini, "\xEF\xBB\xBF[Parameters]\r\nPort=2\r\n"); // saved by a UTF-8 editor
    EXPECT_EQ(SettingsFile(dir.path()).load().Port, "2");

    writeBytes(ini, "[Parameters]\r\nLanguage=" + QByteArray(10000, 'x') + "\r\nPort=3\r\n");
    Settings s = SettingsFile(dir.path()).load();
    EXPECT_EQ(s.Language.size(), 254);
    EXPECT_EQ(s.Port, "3");

    writeBytes(ini, "[Other]\r\nPort=4\r\n");
    EXPECT_EQ(SettingsFile(dir.path()).load().Port, "1");

    writeBytes(ini, "[Parameters]\r\nPort=abc\r\nFrequence=often\r\nMaxLogDimension=-5\r\n");
    s = SettingsFile(dir.path()).load();
    EXPECT_EQ(s.Port, "abc"); // the port then fails to open, with its message
    EXPECT_EQ(s.pollingIntervalMs(), 5000);
    EXPECT_EQ(s.logLimitBytes(), 131072);

    writeBytes(dir.file("afile"), "x");
    writeBytes(ini, "[Parameters]\r\nDirectoryInput=" + dir.file("afile").toUtf8() +
                        "\r\nDirectoryOutput=/proc/no-such-place\r\n");
    s = SettingsFile(dir.path()).load();
    EXPECT_EQ(s.DirectoryInput, dir.file("afile") + "/");
    EXPECT_FALSE(QDir("/proc/no-such-place").exists());
}
