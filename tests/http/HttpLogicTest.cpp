#include "http/BodyText.h"
#include "http/HttpConfig.h"
#include "http/HttpJobs.h"
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

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

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

class HttpJobsTest : public ::testing::Test
{
protected:
    QString input() const { return folder.path() + QStringLiteral("/in/"); }
    QString jobs() const { return folder.path() + QStringLiteral("/jobs"); }
    void SetUp() override { QDir().mkpath(input()); }

    const HttpJobs::Job& made(HttpJobs& store, const QByteArray& body, const QString& key = {})
    {
        const auto created = store.create({{body, key}}, input(), now);
        EXPECT_EQ(created.at(0).made, HttpJobs::Made::Yes);
        return *store.find(created.at(0).id);
    }
    static QString base(const HttpJobs::Job& job) { return job.file.chopped(4); }

    TempFolder folder;
    const QDateTime now =
        QDateTime::fromString(QStringLiteral("2026-12-09T10:00:00Z"), Qt::ISODate);
};

TEST_F(HttpJobsTest, AJobIsACommandFileWhoseVerdictMovesIntoItsRecord)
{
    HttpJobs store(jobs());
    ASSERT_TRUE(store.load(now));
    const HttpJobs::Job& job = made(store, "riga\r\n", QStringLiteral("key-1"));
    EXPECT_TRUE(job.file.startsWith(input() + QStringLiteral("HTTP-")));
    EXPECT_EQ(readBytes(job.file), "riga\r\n");
    EXPECT_EQ(store.waiting(), 1);
    const QString id = job.id;

    writeBytes(base(job) + ".OK",
               "09/12/2026 11:00;Dump=TOTALE 5,00\r\n09/12/2026 11:00;Dump=0042\r\n");
    QFile::remove(job.file);
    EXPECT_TRUE(store.takeVerdict(FileVerdict{job.file, {}, 0, 1, {}, {}, 42}));
    EXPECT_TRUE(QFile::exists(base(job) + ".OK")) << "until the journal holds what it says";
    store.recordVerdicts();
    EXPECT_FALSE(QFile::exists(base(job) + ".OK")) << "results leave the input folder";
    EXPECT_EQ(store.waiting(), 0);

    // Kept under a temporary name, for the next command file to be written over.
    const auto entries = [&] { return QDir(input()).entryList(QDir::Files | QDir::Hidden); };
    ASSERT_EQ(entries().size(), 1);
    EXPECT_TRUE(entries().at(0).startsWith(".qds-")) << entries().at(0).toStdString();
    const HttpJobs::Job& next = made(store, "altra\r\n");
    EXPECT_EQ(readBytes(next.file), "altra\r\n");
    EXPECT_EQ(entries(), QStringList{QFileInfo(next.file).fileName()});

    // A crash between the record and the removal of the results: the next start removes them,
    // but not results that say something else.
    writeBytes(base(job) + ".OK",
               "09/12/2026 11:00;Dump=TOTALE 5,00\r\n09/12/2026 11:00;Dump=0042\r\n");
    HttpJobs restarted(jobs());
    ASSERT_TRUE(restarted.load(now));
    restarted.reconcile();
    EXPECT_FALSE(QFile::exists(base(job) + ".OK"));
    writeBytes(base(job) + ".OK", "09/12/2026 12:00;Dump=0043\r\n");
    restarted.reconcile();
    EXPECT_TRUE(QFile::exists(base(job) + ".OK"));
    QFile::remove(base(job) + ".OK");

    HttpJobs again(jobs());
    ASSERT_TRUE(again.load(now.addDays(1)));
    const HttpJobs::Job* kept = again.findByKey(QStringLiteral("key-1"));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->id, id);
    EXPECT_EQ(kept->digest, HttpJobs::digestOf("riga\r\n"));
    const QJsonObject json = HttpJobs::toJson(*kept, HttpJobs::State::Waiting);
    EXPECT_EQ(json.value("state").toString(), "done");
    EXPECT_EQ(json.value("outcome").toString(), "sent");
    EXPECT_EQ(json.value("receipt").toInt(), 42);
    EXPECT_EQ(json.value("dump").toArray().size(), 2);
    EXPECT_EQ(json.value("dump")[0].toString(), "TOTALE 5,00");
    EXPECT_FALSE(json.contains("error"));
}

TEST_F(HttpJobsTest, AKeyIsKeptSevenDaysByTheClockAndByTheJobsMadeSince)
{
    // A job made at `now`, later jobs on the given days after it, then a restart.
    struct Case
    {
        const char* name;
        std::vector<double> laterDays;
        double restartDays;
        bool kept;
    };
    const std::vector<double> everyDay{1, 2, 3, 4, 5, 6, 7};
    const Case cases[] = {
        {"a minute short of seven days", everyDay, 7 - 1.0 / 1440, true},
        {"a minute past seven days", everyDay, 7 + 1.0 / 1440, false},
        {"the clock put right ten days ahead, no job since", {}, 10, true},
        {"the clock put right, jobs made on one later day", {10, 10.01, 10.02}, 10.1, true},
        {"six later days of jobs only", {1, 2, 3, 4, 5, 6}, 30, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(jobs()).removeRecursively();
        QString id;
        {
            HttpJobs store(jobs());
            ASSERT_TRUE(store.load(now));
            const HttpJobs::Job& job = made(store, "riga\r\n", QStringLiteral("the-key"));
            id = job.id;
            QFile::remove(job.file);
            ASSERT_TRUE(store.takeVerdict(FileVerdict{job.file, {}, 0, 1, {}, {}, 42}));
            store.recordVerdicts();
            for (const double day : c.laterDays) {
                const auto later =
                    store.create({{"altra\r\n", {}}}, input(), now.addSecs(qint64(day * 86400)));
                ASSERT_EQ(later.at(0).made, HttpJobs::Made::Yes);
            }
        }
        HttpJobs restarted(jobs());
        ASSERT_TRUE(restarted.load(now.addSecs(qint64(c.restartDays * 86400))));
        EXPECT_EQ(restarted.find(id) != nullptr, c.kept);
        EXPECT_EQ(restarted.findByKey("the-key") != nullptr, c.kept);
    }
}

TEST_F(HttpJobsTest, ARestartSettlesWhatTheCrashLeft)
{
    struct Case
    {
        const char* name;
        bool keepFile;
        QByteArray ok, ko;
        const char* state;
        const char* outcome;
        int code;
        int row;
        const char* line;
    };
    const Case cases[] = {
        {"failed", false, "", "Error=553;Interrotto;Row 2;VEND 1;Err.Esteso=7\r\n", "done",
         "failed", 553, 2, "VEND 1"},
        {"sent", false, "09/12/2026 11:00;Dump=0007\r\n", "", "done", "sent", 0, 0, ""},
        {"not yet sent", true, "", "", "waiting", "", 0, 0, ""},
        // The pipeline deletes a file only after its verdict is on the disk: it never came.
        {"file gone without a verdict", false, "", "", "done", "not-sent", 0, 0, ""},
    };
    for (const Case& c : cases) {
        QDir(jobs()).removeRecursively();
        HttpJobs store(jobs());
        ASSERT_TRUE(store.load(now));
        const HttpJobs::Job& job = made(store, "VEND 1\r\n");
        const QString id = job.id;
        if (!c.keepFile)
            QFile::remove(job.file);
        if (!c.ok.isEmpty())
            writeBytes(base(job) + ".OK", c.ok);
        if (!c.ko.isEmpty())
            writeBytes(base(job) + ".KO", c.ko);

        HttpJobs restarted(jobs());
        ASSERT_TRUE(restarted.load(now));
        restarted.reconcile(1000);
        const QJsonObject json = HttpJobs::toJson(*restarted.find(id), HttpJobs::State::Waiting);
        EXPECT_EQ(json.value("state").toString(), c.state) << c.name;
        EXPECT_EQ(json.value("outcome").toString(), c.outcome) << c.name;
        if (json.value("outcome") == "not-sent") {
            EXPECT_TRUE(json.value("error")["text"].toString().startsWith("The command file never"))
                << "in the program's language";
            HttpJobs again(jobs());
            ASSERT_TRUE(again.load(now));
            EXPECT_TRUE(again.find(id)->notSent) << "kept so across restarts";
        }
        if (c.code != 0) {
            const QJsonObject error = json.value("error").toObject();
            EXPECT_EQ(error.value("code").toInt(), c.code) << c.name;
            EXPECT_FALSE(error.value("text").toString().isEmpty()) << c.name;
            EXPECT_EQ(error.value("row").toInt(), c.row) << c.name;
            EXPECT_EQ(error.value("line").toString(), c.line) << c.name;
        }
        EXPECT_FALSE(QFile::exists(base(job) + ".OK") || QFile::exists(base(job) + ".KO"))
            << c.name;
        QFile::remove(job.file);
    }
}

TEST_F(HttpJobsTest, JobsMadeTogetherKeepTheirOrderAndAJobNotWrittenIsForgotten)
{
    HttpJobs store(jobs());
    ASSERT_TRUE(store.load(now));
    const auto created =
        store.create({{"uno\r\n", "k1"}, {"due\r\n", "k2"}, {"tre\r\n", {}}}, input(), now);
    ASSERT_EQ(created.size(), 3u);
    EXPECT_LT(created[0].id, created[1].id);
    EXPECT_LT(created[1].id, created[2].id);
    const auto lost = store.create({{"quattro\r\n", "k4"}}, folder.path() + "/missing/", now);
    EXPECT_EQ(lost.at(0).made, HttpJobs::Made::NoCommandFile);
    EXPECT_FALSE(store.findByKey("k4"));

    // A line cut short by a crash is not a job.
    QFile journal(store.journalPath());
    ASSERT_TRUE(journal.open(QIODevice::Append));
    journal.write(R"({"op":"made","id":"20261209100000000-00ff","created":)");
    journal.close();
    HttpJobs again(jobs());
    ASSERT_TRUE(again.load(now));
    EXPECT_EQ(again.waiting(), 3);
    EXPECT_EQ(again.findByKey("k2")->id, created[1].id);
    EXPECT_FALSE(again.findByKey("k4"));
    EXPECT_FALSE(again.find("20261209100000000-00ff"));
    EXPECT_TRUE(readBytes(again.journalPath()).endsWith("\n"));
}

TEST_F(HttpJobsTest, TheJournalIsOnTheDiskBeforeTheFilesThatRelyOnIt)
{
    HttpJobs store(jobs());
    ASSERT_TRUE(store.load(now));
    DiskStepLog steps(folder.path() + u'/');
    const HttpJobs::Job& job = made(store, "riga\r\n", QStringLiteral("k"));
    const QString name = QStringLiteral("in/") + QFileInfo(job.file).fileName();
    // The key is kept before its command file exists, and the file before it is answered.
    EXPECT_LT(steps.first("FlushFile jobs/jobs.journal"), steps.first("Name " + name));
    EXPECT_LT(steps.first("Name " + name), steps.first("FlushFolder in/"));
    // The verdict is kept before its result files leave the input folder.
    writeBytes(base(job) + ".OK", "09/12/2026 11:00;Dump=0042\r\n");
    writeBytes(base(job) + ".KO", "Error=17;x;Row 1;riga\r\n");
    QFile::remove(job.file);
    ASSERT_TRUE(store.takeVerdict(FileVerdict{job.file, {}, 0, 1, {}, {}, 42}));
    steps.clear();
    store.recordVerdicts();
    const QString okName = name.chopped(4) + ".OK";
    const qsizetype journal = steps.first("FlushFile jobs/jobs.journal");
    ASSERT_GE(journal, 0) << qPrintable(steps.steps().join(u'\n'));
    EXPECT_GT(steps.first("Name in/\\.qds-spare.*|Remove " + QRegularExpression::escape(okName)),
              journal)
        << qPrintable(steps.steps().join(u'\n'));
    EXPECT_GT(steps.first("Remove " + QRegularExpression::escape(name.chopped(4) + ".KO")),
              journal);
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
