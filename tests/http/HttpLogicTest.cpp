#include "fronts/BodyText.h"
#include "http/HttpConfig.h"
#include "http/Metrics.h"
#include "http/RequestRules.h"
#include "support/DiskStepLog.h"
#include "support/TempFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <gtest/gtest.h>

namespace {

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

HttpSettings listening(const QString& listen)
{
    HttpSettings s;
    s.Listen = listen;
    s.Token = QStringLiteral("0123456789abcdef-token");
    return s;
}

} // namespace

TEST(HttpConfigTest, ListenNamesAPortOrAnAddressAndPort)
{
    TempFolder folder;
    struct Case
    {
        const char* listen;
        const char* expected; // empty: refused
    };
    const Case cases[] = {
        {"8750", "127.0.0.1:8750"},
        {" 8750 ", "127.0.0.1:8750"},
        {"localhost:81", "127.0.0.1:81"},
        {"127.0.0.1:8750", "127.0.0.1:8750"},
        {"0.0.0.0:9000", "0.0.0.0:9000"},
        {"[::1]:8750", "[::1]:8750"},
        {"192.168.1.20:80", "192.168.1.20:80"},
        {"0", ""},
        {"65536", ""},
        {"+80", ""},
        {"abc", ""},
        {"::1:8750", ""},
        {"shop.example:8750", ""},
        {"127.0.0.1:", ""},
        {":8750", ""},
    };
    for (const Case& c : cases) {
        const auto check =
            checkHttpSettings(listening(QString::fromLatin1(c.listen)), folder.path());
        if (*c.expected) {
            ASSERT_TRUE(check.config) << c.listen << ": " << qPrintable(check.error);
            EXPECT_EQ(check.config->listenText(), QLatin1String(c.expected)) << c.listen;
        } else {
            EXPECT_FALSE(check.config) << c.listen;
            EXPECT_FALSE(check.error.isEmpty()) << c.listen;
        }
    }
    EXPECT_FALSE(checkHttpSettings(HttpSettings{}, folder.path()).config) << "off by default";
    EXPECT_TRUE(checkHttpSettings(HttpSettings{}, folder.path()).error.isEmpty());
}

TEST(HttpConfigTest, TokenOriginsAndBodyLimitAreChecked)
{
    TempFolder folder;
    struct Case
    {
        const char* token;
        const char* origins;
        const char* maxBodyKB;
        bool accepted;
    };
    const Case cases[] = {
        {"0123456789abcdef", "", "", true},
        {"short", "", "", false},
        {"0123456789 abcdef", "", "", false},
        {"0123456789abcdef", "https://shop.example http://192.168.1.20:8080", "64", true},
        {"0123456789abcdef", "*", "", false},
        {"0123456789abcdef", "https://shop.example/", "", false},
        {"0123456789abcdef", "null", "", false},
        {"0123456789abcdef", "ftp://shop.example", "", false},
        {"0123456789abcdef", "", "0", false},
        {"0123456789abcdef", "", "many", false},
    };
    for (const Case& c : cases) {
        HttpSettings s;
        s.Listen = QStringLiteral("8750");
        s.Token = QString::fromLatin1(c.token);
        s.AllowOrigin = QString::fromLatin1(c.origins);
        s.MaxBodyKB = QString::fromLatin1(c.maxBodyKB);
        const auto check = checkHttpSettings(s, folder.path());
        EXPECT_EQ(bool(check.config), c.accepted) << c.token << " / " << c.origins << " / "
                                                  << c.maxBodyKB << ": " << qPrintable(check.error);
    }
    HttpSettings s = listening(QStringLiteral("8750"));
    s.MaxBodyKB = QStringLiteral("64");
    EXPECT_EQ(checkHttpSettings(s, folder.path()).config->maxBodyBytes, 64 * 1024);
}

TEST(HttpConfigTest, AnEmptyTokenIsMadeOnceAndKeptForItsOwnerOnly)
{
    TempFolder folder;
    HttpSettings s;
    s.Listen = QStringLiteral("8750");
    const auto first = checkHttpSettings(s, folder.path());
    ASSERT_TRUE(first.config) << qPrintable(first.error);
    EXPECT_EQ(first.config->token.size(), 64);
    const QString path = tokenFilePath(folder.path());
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    EXPECT_EQ(QFile::permissions(path) & others, 0);
    EXPECT_TRUE(QFile::permissions(path) & QFileDevice::ReadOwner);
    EXPECT_EQ(checkHttpSettings(s, folder.path()).config->token, first.config->token);

    writeBytes(path, "too short\n");
    const auto broken = checkHttpSettings(s, folder.path());
    EXPECT_FALSE(broken.config);
    EXPECT_TRUE(broken.error.contains(path)) << qPrintable(broken.error);
}

TEST(BodyTextTest, ContentTypeNamesTheCharset)
{
    struct Case
    {
        const char* contentType;
        std::optional<BodyCharset> expected;
    };
    const Case cases[] = {
        {"", BodyCharset::Windows1252},
        {"text/plain", BodyCharset::Windows1252},
        {"text/plain; charset=windows-1252", BodyCharset::Windows1252},
        {"Text/Plain;Charset=\"UTF-8\"", BodyCharset::Utf8},
        {"text/plain; charset=utf8", BodyCharset::Utf8},
        {"text/plain; charset=iso-8859-15", std::nullopt},
        {"application/json", std::nullopt},
        {"application/x-www-form-urlencoded", std::nullopt},
    };
    for (const Case& c : cases) {
        QString error;
        EXPECT_EQ(bodyCharset(c.contentType, error), c.expected) << c.contentType;
        EXPECT_EQ(error.isEmpty(), c.expected.has_value()) << c.contentType;
    }
}

TEST(BodyText, AByteOrderMarkWithoutACharsetIsNotTakenForWindows1252)
{
    const QByteArray marked = "\xEF\xBB\xBFVEND 1\r\n";
    EXPECT_TRUE(utf8MarkWithoutCharset("", marked));
    EXPECT_TRUE(utf8MarkWithoutCharset("text/plain", marked));
    EXPECT_TRUE(utf8MarkWithoutCharset("text/plain; format=flowed", marked));
    EXPECT_FALSE(utf8MarkWithoutCharset("text/plain; charset=utf-8", marked));
    EXPECT_FALSE(utf8MarkWithoutCharset("text/plain;CHARSET = windows-1252", marked));
    EXPECT_FALSE(utf8MarkWithoutCharset("text/plain", "VEND \xEF\xBB\xBF\r\n"));
}

TEST(BodyTextTest, Utf8IsConvertedOrRefusedNamingTheLine)
{
    struct Case
    {
        QByteArray body;
        QByteArray expected;
        int badRow;
    };
    const Case cases[] = {
        {"caf\xc3\xa9\r\n\xe2\x82\xac 5\r\n", "caf\xe9\r\n\x80 5\r\n", 0},
        {"\xef\xbb\xbfuno\ndue", "uno\ndue", 0},
        {"", "", 0},
        {"uno\r\ndue\r\n\xe4\xb8\xad\r\n", "", 3},
        {"uno\n\xf0\x9f\x98\x80\n", "", 2},
        {"uno\n\xc3\n", "", 2},
        {"\xe9\n", "", 1},
        {"uno\n\xef\xbb\xbf"
         "due\n",
         "", 2},
    };
    for (const Case& c : cases) {
        const CommandFileBody body = commandFileBody(c.body, BodyCharset::Utf8);
        EXPECT_EQ(body.badRow, c.badRow) << c.body.toHex().constData();
        if (c.badRow == 0)
            EXPECT_EQ(body.bytes, c.expected) << c.body.toHex().constData();
        else
            EXPECT_TRUE(body.bytes.isEmpty() && !body.error.isEmpty());
    }
    EXPECT_EQ(commandFileBody("\xe9\x81\n", BodyCharset::Windows1252).bytes, "\xe9\x81\n");
}

TEST(RequestRulesTest, OnlyTheWholeTokenPasses)
{
    HttpConfig config;
    config.token = "0123456789abcdef-token";
    const RequestRules rules(config);
    const struct
    {
        const char* authorization;
        bool passes;
    } cases[] = {
        {"Bearer 0123456789abcdef-token", true},
        {"Bearer 0123456789abcdef-toke", false},   // a prefix
        {"Bearer 0123456789abcdef-tokenX", false}, // longer
        {"Bearer 1123456789abcdef-token", false},  // one off at the start
        {"Bearer 0123456789abcdef-tokem", false},  // one off at the end
        {"Bearer 0123456789ABCDEF-TOKEN", false},  // case
        {"Bearer ", false},
        {"", false},
        {"0123456789abcdef-token", false},
        {"Basic 0123456789abcdef-token", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rules.bearsToken(c.authorization), c.passes) << c.authorization;
    config.token.clear();
    EXPECT_FALSE(rules.bearsToken("Bearer ")) << "an empty token opens nothing";
}

TEST(Metrics, ValuesAndLabelsAreWrittenAsTheTextFormatWantsThem)
{
    MetricsSample s;
    s.filesSent = 3;
    s.linesRefused = {{17, 2}, {0, 1}};
    s.faults = {{"result-file", 4}};
    s.registerState = QStringLiteral("cover-open");
    s.version = QStringLiteral("1.0 \"beta\"\\x\n");
    const QByteArray text = metricsText(s);
    for (const char* line :
         {"qds_files_total{outcome=\"sent\"} 3\n", "qds_lines_refused_total{code=\"17\"} 2\n",
          "qds_lines_refused_total{code=\"0\"} 1\n", "qds_faults_total{kind=\"result-file\"} 4\n",
          "qds_register_state{state=\"cover-open\"} 1\n", "qds_register_state{state=\"ready\"} 0\n",
          "qds_build_info{version=\"1.0 \\\"beta\\\"\\\\x\\n\"} 1\n"})
        EXPECT_TRUE(text.contains(line)) << line;
    // Nothing read yet: no number and no time, rather than zeros that would read as values.
    EXPECT_FALSE(text.contains("qds_last_receipt_number"));
    EXPECT_FALSE(text.contains("qds_seconds_since_last_file_sent"));
    s.lastReceipt = 41;
    s.lastReceiptTime = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    EXPECT_TRUE(metricsText(s).contains("qds_last_receipt_timestamp_seconds 1800000000\n"));
}
