#include "mqtt/JobMessage.h"
#include "mqtt/MqttConfig.h"
#include "mqtt/MqttFault.h"
#include "mqtt/MqttLink.h"
#include "support/TempFolder.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

QString writeFile(const QString& path, const QByteArray& bytes, QFileDevice::Permissions mode)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    file.close();
    QFile::setPermissions(path, mode);
    return path;
}

constexpr auto kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

TEST(MqttConfigTest, SettingsTheLinkCanUseAndWhyOthersLeaveItOff)
{
    TempFolder folder;
    const QString pw = writeFile(folder.path() + "/pw", "s3cret\r\nignored\n", kOwnerOnly);
    const QString open =
        writeFile(folder.path() + "/open", "s3cret\n", kOwnerOnly | QFileDevice::ReadOther);
    const QString ca = writeFile(folder.path() + "/ca.pem", "x", kOwnerOnly);
    struct Case
    {
        MqttSettings settings;
        const char* broker; // empty: refused, and error holds `why`
        const char* why;
    };
    const Case cases[] = {
        {{"broker.example", {}, {}, {}, {}, {}, {}, {}, {}}, "mqtts://broker.example:8883", ""},
        {{"mqtts://b:9999", {}, {}, {}, {}, {}, {}, {}, {}}, "mqtts://b:9999", ""},
        {{"mqtt://b", {}, {}, {}, {}, {}, {}, {}, {}}, "mqtt://b:1883", ""},
        {{"mqtt://[::1]:1884", {}, {}, {}, {}, {}, {}, {}, {}}, "mqtt://[::1]:1884", ""},
        {{"http://b", {}, {}, {}, {}, {}, {}, {}, {}}, "", "Broker=http://b"},
        {{"mqtts://u:p@b", {}, {}, {}, {}, {}, {}, {}, {}}, "", "Broker="},
        {{"mqtts://b/path", {}, {}, {}, {}, {}, {}, {}, {}}, "", "Broker="},
        {{"b", "shops/+/c", {}, {}, {}, {}, {}, {}, {}}, "", "Topic=shops/+/c"},
        {{"b", "shops//c", {}, {}, {}, {}, {}, {}, {}}, "", "Topic="},
        {{"b", "$SYS/x", {}, {}, {}, {}, {}, {}, {}}, "", "Topic="},
        {{"b", "a/#", {}, {}, {}, {}, {}, {}, {}}, "", "Topic="},
        {{"b", {}, {}, "qds", pw, {}, {}, {}, {}}, "mqtts://b:8883", ""},
        {{"b", {}, {}, {}, pw, {}, {}, {}, {}}, "", "needs a Username"},
        {{"b", {}, {}, "qds", open, {}, {}, {}, {}}, "", "readable by its owner only"},
        {{"b", {}, {}, "qds", folder.path() + "/none", {}, {}, {}, {}}, "", "PasswordFile="},
        {{"b", {}, {}, {}, {}, ca, {}, {}, {}}, "", "go together"},
        {{"b", {}, {}, {}, {}, ca, ca, ca, {}}, "mqtts://b:8883", ""},
        {{"mqtt://b", {}, {}, {}, {}, {}, {}, ca, {}}, "", "need an mqtts://"},
        {{"b", {}, {}, {}, {}, {}, {}, folder.path() + "/none", {}}, "", "CaFile="},
        {{"b", {}, {}, {}, {}, {}, {}, {}, "0"}, "", "SessionDays=0"},
        {{"b", {}, {}, {}, {}, {}, {}, {}, "30"}, "mqtts://b:8883", ""},
        {{"b", {}, "id with space", {}, {}, {}, {}, {}, {}}, "", "ClientId="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings.Broker.toStdString() + " " + c.settings.Topic.toStdString());
        const MqttConfigCheck check =
            checkMqttSettings(c.settings, QStringLiteral("/opt/Quorin Cassa"), "pc-01", {});
        if (*c.broker) {
            ASSERT_TRUE(check.config) << check.error.toStdString();
            EXPECT_EQ(check.config->brokerText(), QString::fromUtf8(c.broker));
            EXPECT_EQ(check.warning.isEmpty(), check.config->tls);
        } else {
            EXPECT_FALSE(check.config);
            EXPECT_TRUE(check.error.contains(QString::fromUtf8(c.why)))
                << check.error.toStdString();
        }
    }
}

TEST(MqttConfigTest, DefaultsComeFromTheHostTheFolderAndTheHttpLimit)
{
    MqttSettings s;
    s.Broker = QStringLiteral("b");
    const MqttConfigCheck check =
        checkMqttSettings(s, QStringLiteral("/opt/Quorin Cassa"), "pc/01+x", QStringLiteral("2"));
    ASSERT_TRUE(check.config);
    EXPECT_EQ(check.config->topic, QStringLiteral("qds/pc-01-x/Quorin-Cassa"));
    EXPECT_EQ(check.config->clientId, QStringLiteral("qds-pc-01-x-Quorin-Cassa"));
    EXPECT_EQ(check.config->sessionDays, 7);
    EXPECT_EQ(check.config->maxPayloadBytes, 2048);
    EXPECT_EQ(check.config->jobsTopic(), QStringLiteral("qds/pc-01-x/Quorin-Cassa/jobs"));
}

TEST(JobMessageTest, AJobIsTakenOnlyWithOneKeyItsCharsetAndWithinTheLimit)
{
    const QString jobs = QStringLiteral("r/jobs");
    const QString verdicts = QStringLiteral("r/verdicts");
    struct Case
    {
        const char* name;
        QString topic;
        QByteArray payload;
        std::optional<QByteArray> contentType;
        std::vector<std::pair<QByteArray, QByteArray>> users;
        int status; // 0: taken
        int row = 0;
    };
    const std::vector<Case> cases = {
        {"plain", jobs, "VEND 1\r\n", std::nullopt, {{"key", "k"}}, 0},
        {"utf-8", jobs, "VEND caff\xc3\xa8\r\n", "text/plain; charset=utf-8", {{"key", "k"}}, 0},
        {"other topic", "r/other", "VEND\r\n", std::nullopt, {{"key", "k"}}, 400},
        {"no key", jobs, "VEND\r\n", std::nullopt, {{"kee", "k"}}, 400},
        {"empty key", jobs, "VEND\r\n", std::nullopt, {{"key", ""}}, 400},
        {"two keys", jobs, "VEND\r\n", std::nullopt, {{"key", "a"}, {"key", "b"}}, 400},
        {"key with a blank", jobs, "VEND\r\n", std::nullopt, {{"key", "a b"}}, 400},
        {"key of 256", jobs, "VEND\r\n", std::nullopt, {{"key", QByteArray(256, 'k')}}, 400},
        {"too big", jobs, QByteArray(1025, 'x'), std::nullopt, {{"key", "k"}}, 413},
        {"json", jobs, "{}", "application/json", {{"key", "k"}}, 415},
        {"latin-9", jobs, "x", "text/plain; charset=iso-8859-15", {{"key", "k"}}, 415},
        {"mark, no charset", jobs, "\xef\xbb\xbfVEND\r\n", std::nullopt, {{"key", "k"}}, 415},
        {"not utf-8",
         jobs,
         "VEND\r\nVEND \xff\r\n",
         "text/plain; charset=utf-8",
         {{"key", "k"}},
         422,
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MqttMessage m;
        m.topic = c.topic;
        m.payload = c.payload;
        m.contentType = c.contentType;
        m.userProperties = c.users;
        const JobMessageCheck check = checkJobMessage(m, jobs, verdicts, 1024);
        EXPECT_EQ(check.ok, c.status == 0) << check.error.toStdString();
        EXPECT_EQ(check.status, c.status);
        EXPECT_EQ(check.row, c.row);
        EXPECT_EQ(check.replyTopic, verdicts);
    }
}

TEST(JobMessageTest, RepliesGoToAResponseTopicOnlyWhenItIsOne)
{
    for (const auto& [topic, usable] :
         std::vector<std::pair<QByteArray, bool>>{{"r/replies/pos", true},
                                                  {"r/+/pos", false},
                                                  {"r/#", false},
                                                  {"$SYS/x", false},
                                                  {QByteArray("r/\0x", 4), false},
                                                  {"r/\xff", false},
                                                  {"", false}}) {
        MqttMessage m;
        m.topic = QStringLiteral("r/jobs");
        m.responseTopic = topic;
        const JobMessageCheck check =
            checkJobMessage(m, QStringLiteral("r/jobs"), QStringLiteral("r/verdicts"), 10);
        EXPECT_EQ(check.replyTopic == QString::fromUtf8(topic), usable) << topic.toStdString();
    }
}

TEST(MqttLinkTest, RetriesBackOffFromOneSecondToOneMinuteWithJitter)
{
    QRandomGenerator random(42);
    int previousBase = 0;
    for (int attempt = 0; attempt < 12; ++attempt) {
        const int base = std::min(1000 << attempt, 60'000);
        for (int i = 0; i < 50; ++i) {
            const int ms = MqttLink::retryDelayMs(attempt, random);
            EXPECT_GE(ms, std::max(1000, base - base / 5));
            EXPECT_LE(ms, std::min(60'000, base + base / 5));
        }
        EXPECT_GE(base, previousBase);
        previousBase = base;
    }
    EXPECT_LE(MqttLink::retryDelayMs(1000, random), 60'000);
}

TEST(MqttFaultTest, SaidInEitherLanguageWithWhatTheLibrarySaidAsSaid)
{
    using Kind = MqttFault::Kind;
    struct Case
    {
        Kind kind;
        const char* english;
        const char* italian;
    };
    const Case cases[] = {
        {Kind::NameUnknown, "cannot be looked up", "non si trova"},
        {Kind::Unreachable, "cannot be reached", "non è raggiungibile"},
        {Kind::NoAnswer, "did not answer", "non ha risposto"},
        {Kind::Lost, "was lost", "si è interrotta"},
        {Kind::Ended, "ended the connection", "ha chiuso la connessione"},
        {Kind::Refused, "refused the connection", "ha rifiutato la connessione"},
        {Kind::Untrusted, "is not trusted", "non è attendibile"},
        {Kind::TlsFailed, "TLS handshake", "negoziazione TLS"},
    };
    // A broker's or library's text with a placeholder in it is not taken for one of ours.
    const QString broker = QStringLiteral("mqtts://broker%1:8883");
    const QString detail = QStringLiteral("Connection refused %2");
    for (const Case& c : cases) {
        const MqttFault fault{c.kind, broker, c.kind == Kind::TlsFailed ? QString() : detail};
        const QString english = fault.text(false);
        const QString italian = fault.text(true);
        SCOPED_TRACE(english.toStdString());
        EXPECT_TRUE(english.contains(QString::fromUtf8(c.english)));
        EXPECT_TRUE(italian.contains(QString::fromUtf8(c.italian))) << italian.toStdString();
        for (const QString& text : {english, italian}) {
            if (c.kind != Kind::Untrusted) {
                EXPECT_TRUE(text.contains(broker));
            }
            if (!fault.detail.isEmpty()) {
                EXPECT_TRUE(text.contains(detail));
            }
        }
    }
    // The resolver may say nothing: the text still says why.
    const MqttFault nameless{Kind::NameUnknown, QStringLiteral("broker.lan"), {}};
    EXPECT_TRUE(nameless.text(true).endsWith(QStringLiteral("nessun indirizzo")));
}
