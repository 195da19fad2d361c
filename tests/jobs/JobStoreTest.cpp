#include "jobs/JobStore.h"
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

class JobStoreTest : public ::testing::Test
{
protected:
    QString input() const { return folder.path() + QStringLiteral("/in/"); }
    QString jobs() const { return folder.path() + QStringLiteral("/jobs"); }
    void SetUp() override { QDir().mkpath(input()); }

    const JobStore::Job& made(JobStore& store, const QByteArray& body, const QString& key = {})
    {
        const auto created = store.create({{body, key, {}}}, input(), now);
        EXPECT_EQ(created.at(0).made, JobStore::Made::Yes);
        return *store.find(created.at(0).id);
    }
    static QString base(const JobStore::Job& job) { return job.file.chopped(4); }

    TempFolder folder;
    const QDateTime now =
        QDateTime::fromString(QStringLiteral("2026-12-09T10:00:00Z"), Qt::ISODate);
};

} // namespace

TEST_F(JobStoreTest, AJobIsACommandFileWhoseVerdictMovesIntoItsRecord)
{
    JobStore store(jobs());
    ASSERT_TRUE(store.load(now));
    const JobStore::Job& job = made(store, "riga\r\n", QStringLiteral("key-1"));
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
    const JobStore::Job& next = made(store, "altra\r\n");
    EXPECT_EQ(readBytes(next.file), "altra\r\n");
    EXPECT_EQ(entries(), QStringList{QFileInfo(next.file).fileName()});

    // A crash between the record and the removal of the results: the next start removes them,
    // but not results that say something else.
    writeBytes(base(job) + ".OK",
               "09/12/2026 11:00;Dump=TOTALE 5,00\r\n09/12/2026 11:00;Dump=0042\r\n");
    JobStore restarted(jobs());
    ASSERT_TRUE(restarted.load(now));
    restarted.reconcile();
    EXPECT_FALSE(QFile::exists(base(job) + ".OK"));
    writeBytes(base(job) + ".OK", "09/12/2026 12:00;Dump=0043\r\n");
    restarted.reconcile();
    EXPECT_TRUE(QFile::exists(base(job) + ".OK"));
    QFile::remove(base(job) + ".OK");

    JobStore again(jobs());
    ASSERT_TRUE(again.load(now.addDays(1)));
    const JobStore::Job* kept = again.findByKey(QStringLiteral("key-1"));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->id, id);
    EXPECT_EQ(kept->digest, JobStore::digestOf("riga\r\n"));
    const QJsonObject json = JobStore::toJson(*kept, JobStore::State::Waiting);
    EXPECT_EQ(json.value("state").toString(), "done");
    EXPECT_EQ(json.value("outcome").toString(), "sent");
    EXPECT_EQ(json.value("receipt").toInt(), 42);
    EXPECT_EQ(json.value("dump").toArray().size(), 2);
    EXPECT_EQ(json.value("dump")[0].toString(), "TOTALE 5,00");
    EXPECT_FALSE(json.contains("error"));
}

TEST_F(JobStoreTest, AKeyIsKeptSevenDaysByTheClockAndByTheJobsMadeSince)
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
            JobStore store(jobs());
            ASSERT_TRUE(store.load(now));
            const JobStore::Job& job = made(store, "riga\r\n", QStringLiteral("the-key"));
            id = job.id;
            QFile::remove(job.file);
            ASSERT_TRUE(store.takeVerdict(FileVerdict{job.file, {}, 0, 1, {}, {}, 42}));
            store.recordVerdicts();
            for (const double day : c.laterDays) {
                const auto later = store.create({{"altra\r\n", {}, {}}}, input(),
                                                now.addSecs(qint64(day * 86400)));
                ASSERT_EQ(later.at(0).made, JobStore::Made::Yes);
            }
        }
        JobStore restarted(jobs());
        ASSERT_TRUE(restarted.load(now.addSecs(qint64(c.restartDays * 86400))));
        EXPECT_EQ(restarted.find(id) != nullptr, c.kept);
        EXPECT_EQ(restarted.findByKey("the-key") != nullptr, c.kept);
    }
}

TEST_F(JobStoreTest, ARestartSettlesWhatTheCrashLeft)
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
        JobStore store(jobs());
        ASSERT_TRUE(store.load(now));
        const JobStore::Job& job = made(store, "VEND 1\r\n");
        const QString id = job.id;
        if (!c.keepFile)
            QFile::remove(job.file);
        if (!c.ok.isEmpty())
            writeBytes(base(job) + ".OK", c.ok);
        if (!c.ko.isEmpty())
            writeBytes(base(job) + ".KO", c.ko);

        JobStore restarted(jobs());
        ASSERT_TRUE(restarted.load(now));
        restarted.reconcile(1000);
        const QJsonObject json = JobStore::toJson(*restarted.find(id), JobStore::State::Waiting);
        EXPECT_EQ(json.value("state").toString(), c.state) << c.name;
        EXPECT_EQ(json.value("outcome").toString(), c.outcome) << c.name;
        if (json.value("outcome") == "not-sent") {
            EXPECT_TRUE(json.value("error")["text"].toString().startsWith("The command file never"))
                << "in the program's language";
            JobStore again(jobs());
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

TEST_F(JobStoreTest, JobsMadeTogetherKeepTheirOrderAndAJobNotWrittenIsForgotten)
{
    JobStore store(jobs());
    ASSERT_TRUE(store.load(now));
    const auto created = store.create(
        {{"uno\r\n", "k1", {}}, {"due\r\n", "k2", {}}, {"tre\r\n", {}, {}}}, input(), now);
    ASSERT_EQ(created.size(), 3u);
    EXPECT_LT(created[0].id, created[1].id);
    EXPECT_LT(created[1].id, created[2].id);
    const auto lost = store.create({{"quattro\r\n", "k4", {}}}, folder.path() + "/missing/", now);
    EXPECT_EQ(lost.at(0).made, JobStore::Made::NoCommandFile);
    EXPECT_FALSE(store.findByKey("k4"));

    // A line cut short by a crash is not a job.
    QFile journal(store.journalPath());
    ASSERT_TRUE(journal.open(QIODevice::Append));
    journal.write(R"({"op":"made","id":"20261209100000000-00ff","created":)");
    journal.close();
    JobStore again(jobs());
    ASSERT_TRUE(again.load(now));
    EXPECT_EQ(again.waiting(), 3);
    EXPECT_EQ(again.findByKey("k2")->id, created[1].id);
    EXPECT_FALSE(again.findByKey("k4"));
    EXPECT_FALSE(again.find("20261209100000000-00ff"));
    EXPECT_TRUE(readBytes(again.journalPath()).endsWith("\n"));
}

TEST_F(JobStoreTest, TheJournalIsOnTheDiskBeforeTheFilesThatRelyOnIt)
{
    JobStore store(jobs());
    ASSERT_TRUE(store.load(now));
    DiskStepLog steps(folder.path() + u'/');
    const JobStore::Job& job = made(store, "riga\r\n", QStringLiteral("k"));
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

TEST_F(JobStoreTest, WhatAClientWasToldOfAJobSurvivesARestartAndTheRestIsToldAgain)
{
    const QJsonObject route{{"front", "mqtt"}, {"topic", "r/replies"}, {"correlation", "YQ=="}};
    QString waitingId, doneId, toldId, plainId;
    {
        JobStore store(jobs());
        ASSERT_TRUE(store.load(now));
        const auto created = store.create({{"uno\r\n", "k1", route},
                                           {"due\r\n", "k2", route},
                                           {"tre\r\n", "k3", route},
                                           {"quattro\r\n", "k4", {}}},
                                          input(), now);
        waitingId = created[0].id;
        doneId = created[1].id;
        toldId = created[2].id;
        plainId = created[3].id;
        EXPECT_TRUE(store.recordTold(doneId, JobStore::Told::Waiting));
        EXPECT_TRUE(store.recordTold(toldId, JobStore::Told::Waiting));
        for (const QString& id : {doneId, toldId}) {
            const JobStore::Job& job = *store.find(id);
            writeBytes(base(job) + ".OK", "09/12/2026 11:00;Dump=0001\r\n");
            QFile::remove(job.file);
            ASSERT_TRUE(store.takeVerdict({job.file, now, 0, 0, {}, {}, 1}));
        }
        store.recordVerdicts();
        EXPECT_TRUE(store.recordTold(toldId, JobStore::Told::Done));
        EXPECT_FALSE(
            store.recordTold(QStringLiteral("20990101000000000-0000"), JobStore::Told::Done));
    }
    // Read back twice: once as written, once as the start wrote it again.
    for (int start = 0; start < 2; ++start) {
        JobStore store(jobs());
        ASSERT_TRUE(store.load(now));
        EXPECT_EQ(store.find(waitingId)->route, route);
        EXPECT_TRUE(store.find(plainId)->route.isEmpty());
        std::vector<QString> untold;
        for (const JobStore::Job* job : store.untold())
            untold.push_back(job->id);
        // Not yet told it waits; done but not told so; never a job without a route.
        EXPECT_EQ(untold, (std::vector<QString>{waitingId, doneId}));
        EXPECT_TRUE(store.find(toldId)->wasTold(JobStore::Told::Done));
    }
}
