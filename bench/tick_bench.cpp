// Cost of one command file in a polling tick, beside the floor: the same file work done by hand
// with nothing else (list, write and flush a record, read the lines, write and flush the .OK
// line, append the log line, delete, flush the folder). The floor makes the same flushes as the
// program, so that the ratio says what the code adds, not what the disk costs.
#include "common/Clock.h"
#include "driver/RegisterDriver.h"
#include "pipeline/CommandFilePipeline.h"
#include "pipeline/FolderWatcher.h"
#include "pipeline/InputFolderScanner.h"
#include "status/StatusModel.h"
#include "support/PipelineFolders.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

constexpr int kLinesPerFile = 10;

// Accepts every line at once and answers the status query with receipt 42.
class ZeroDelayRegister : public RegisterDriver
{
public:
    void setPreOpenFlag(bool) override {}
    qint32 OpenPort(QString&) override { return 0; }
    qint32 ClosePort() override { return 0; }
    qint32 SendCommand(qint32&, qint16, QString& line) override
    {
        benchmark::DoNotOptimize(line.size());
        ++sent;
        return 0;
    }
    qint32 ExtendedResult() override { return 0; }
    qint32 SendQuery(qint32, qint16, const QString&, QString& answer) override
    {
        answer = QStringLiteral("0000000000420042");
        return 0;
    }
    int sent = 0;
};

// The tests' program folder with its input and output folders, and what the benchmarks do in it.
struct Folders : PipelineFolders
{
    // Command files as a producer leaves them: written under another name, then renamed.
    void drop(int count, int serial)
    {
        QByteArray body;
        for (int line = 1; line <= kLinesPerFile; ++line)
            body += "=R1/$" + QByteArray::number(line * 100) + "/(ARTICOLO " +
                    QByteArray::number(line) + ")\r\n";
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("F%1-%2").arg(serial).arg(i, 5, 10, QChar('0'));
            const QString temporary = settings.DirectoryInput + name + QStringLiteral(".tmp");
            QFile file(temporary);
            if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size())
                qFatal("cannot write %s", qPrintable(temporary));
            file.close();
            QFile::rename(temporary, settings.DirectoryInput + name + QStringLiteral(".TXT"));
        }
    }
    // Untimed: the previous batch's results go, a new batch of command files comes.
    void nextBatch(benchmark::State& state, int count, int serial)
    {
        state.PauseTiming();
        clearResults(count, serial - 1);
        drop(count, serial);
        state.ResumeTiming();
    }
    // Result files of earlier runs that nobody cleared away. Hard links to a few files: the
    // folder's entries are what counts, and making 100,000 files anew takes minutes here.
    void leave(int count)
    {
        std::filesystem::path first;
        for (int i = 0; i < count; ++i) {
            const auto path = std::filesystem::path(
                QFile::encodeName(settings.DirectoryInput + QStringLiteral("OLD%1.OK").arg(i))
                    .toStdString());
            if (i % 50000 == 0) {
                first = path;
                QFile file(QFile::decodeName(path.c_str()));
                if (!file.open(QIODevice::WriteOnly))
                    qFatal("cannot write leftovers");
                file.write("01/12/2026 10:00;Dump=0042\r\n");
            } else {
                std::filesystem::create_hard_link(first, path);
            }
        }
    }
    // The result files of a batch, so that the number of leftovers stays what it was.
    void clearResults(int count, int serial)
    {
        for (int i = 0; i < count; ++i)
            QFile::remove(settings.DirectoryInput +
                          QStringLiteral("F%1-%2.OK").arg(serial).arg(i, 5, 10, QChar('0')));
    }
};

void tick(benchmark::State& state, CommandFilePipeline::TickCause cause, int leftovers)
{
    const int batch = static_cast<int>(state.range(0));
    Folders folders;
    folders.leave(leftovers);
    ZeroDelayRegister driver;
    StatusModel display(folders.settings);
    SystemClock clock;
    CommandFilePipeline pipeline(folders.settings, driver, display, clock,
                                 QStringLiteral("QuorinDriverServer"), {1000, 1000, 65536});
    pipeline.setFolderWatcher(createFolderWatcher(&InputFolderScanner::isCommandFileName));
    pipeline.watchInputFolder();
    pipeline.runTick({}, CommandFilePipeline::TickCause::Timer);
    int serial = 0;
    for (auto _ : state) {
        folders.nextBatch(state, batch, ++serial);
        pipeline.runTick({}, cause);
    }
    if (QDir(folders.settings.DirectoryInput).entryList({"*.TXT"}).size() != 0)
        state.SkipWithError("files were left unsent");
    state.SetItemsProcessed(state.iterations() * batch);
}

void BM_TickFromEvents(benchmark::State& state)
{
    tick(state, CommandFilePipeline::TickCause::FolderEvent, 0);
}

void BM_TickFromTimer(benchmark::State& state)
{
    tick(state, CommandFilePipeline::TickCause::Timer, 0);
}

void BM_TickWithLeftovers(benchmark::State& state)
{
    tick(state, CommandFilePipeline::TickCause::FolderEvent, static_cast<int>(state.range(1)));
}

void BM_Floor(benchmark::State& state)
{
    const int batch = static_cast<int>(state.range(0));
    Folders folders;
    const QString in = folders.settings.DirectoryInput;
    const QByteArray folder = QFile::encodeName(in);
    const int record =
        ::open((folder + "QuorinDriverServer.REC").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    int serial = 0;
    for (auto _ : state) {
        folders.nextBatch(state, batch, ++serial);
        QStringList files;
        QDirIterator it(in, {QStringLiteral("*.TXT")}, QDir::Files);
        while (it.hasNext())
            files << it.next();
        files.sort();
        for (const QString& path : files) {
            const QByteArray mark = "Busy=1\r\nFile=" + QFile::encodeName(path) + "\r\n";
            if (::pwrite(record, mark.constData(), mark.size(), 0) != mark.size() ||
                ::fdatasync(record) != 0)
                state.SkipWithError("cannot write the record");
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            int lines = 0;
            while (!file.atEnd()) {
                benchmark::DoNotOptimize(file.readLine());
                ++lines;
            }
            file.close();
            QFile ok(path.left(path.size() - 4) + QStringLiteral(".OK"));
            if (ok.open(QIODevice::WriteOnly | QIODevice::Append)) {
                ok.write("08/12/2026 10:00;Dump=0042\r\n");
                ok.flush();
                ::fdatasync(ok.handle());
            }
            QFile log(in + QStringLiteral("QuorinDriverServer.LOG"));
            if (log.open(QIODevice::WriteOnly | QIODevice::Append))
                log.write("08/12/2026 10:00;Ticket=42\r\n");
            QFile::remove(path);
            const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::fsync(dir);
            ::close(dir);
            ::pwrite(record, "0", 1, 5);
            benchmark::DoNotOptimize(lines);
        }
    }
    ::close(record);
    state.SetItemsProcessed(state.iterations() * batch);
}

// A folder flooded with 10,000 one-line files: one tick sends them all, each once, and leaves
// no command file behind.
void BM_TenThousandFilesInOneTick(benchmark::State& state)
{
    constexpr int kFiles = 10000;
    for (auto _ : state) {
        state.PauseTiming();
        Folders folders;
        for (int i = 0; i < kFiles; ++i) {
            QFile file(folders.settings.DirectoryInput +
                       QStringLiteral("F%1.TXT").arg(i, 5, 10, QLatin1Char('0')));
            if (!file.open(QIODevice::WriteOnly) || file.write("X\r\n") != 3)
                qFatal("cannot write the files");
        }
        ZeroDelayRegister driver;
        StatusModel display(folders.settings);
        SystemClock clock;
        CommandFilePipeline pipeline(folders.settings, driver, display, clock,
                                     QStringLiteral("QuorinDriverServer"), {1000, 0, 65536});
        state.ResumeTiming();
        pipeline.runTick();
        state.PauseTiming();
        if (driver.sent != kFiles)
            state.SkipWithError("not every file was sent exactly once");
        if (!QDir(folders.settings.DirectoryInput).entryList({"*.TXT"}).isEmpty())
            state.SkipWithError("command files were left in the folder");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

} // namespace

BENCHMARK(BM_Floor)->Arg(50)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TickFromEvents)->Arg(50)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TickFromTimer)->Arg(50)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TickWithLeftovers)
    ->ArgsProduct({{50}, {0, 1000, 10000, 100000}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TenThousandFilesInOneTick)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
