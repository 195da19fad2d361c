// Runs every benchmark of the program and prints one markdown table: each figure, its baseline
// measured in the same run on the same machine, the ratio and the target.
//
//   qds_bench --program P --baseline B --tick-bench T [--smoke] [--out FILE]
//
// P is the program, B the empty Qt program it is compared with, T the in-process tick
// benchmark. --smoke runs everything briefly, only to show that the benchmarks still work.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <optional>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

[[noreturn]] void fail(const QString& what)
{
    qFatal("qds_bench: %s", qPrintable(what));
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        fail("cannot write " + path);
}

// A command file as a producer leaves it: written under another name, then renamed.
void dropFile(const QString& folder, const QString& name, const QByteArray& body)
{
    writeFile(folder + "/" + name + ".tmp", body);
    if (!QFile::rename(folder + "/" + name + ".tmp", folder + "/" + name + ".TXT"))
        fail("cannot rename " + name);
}

QByteArray commandFile(int lines, int width = 24)
{
    QByteArray body;
    for (int i = 1; i <= lines; ++i) {
        QByteArray line = "=R1/$" + QByteArray::number(i * 100) + "/(ARTICOLO ";
        line += QByteArray(std::max<qsizetype>(0, width - line.size() - 1), 'X') + ")";
        body += line + "\r\n";
    }
    return body;
}

// When files of a folder were closed after writing, or renamed into it (a verdict that is made
// whole and then named), as inotify tells it.
class ClosedFiles
{
public:
    explicit ClosedFiles(const QString& folder)
    {
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd < 0 || inotify_add_watch(m_fd, QFile::encodeName(folder).constData(),
                                          IN_CLOSE_WRITE | IN_MOVED_TO) < 0)
            fail("cannot watch " + folder);
    }
    ~ClosedFiles() { ::close(m_fd); }

    // When the file was (first) closed; waits for it at most timeoutMs.
    std::optional<Clock::time_point> waitFor(const QString& name, int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (const auto it = m_closed.constFind(name); it != m_closed.cend())
                return *it;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0)
                return std::nullopt;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000))) > 0)
                read();
        }
    }
    int count(const QString& suffix) const
    {
        int n = 0;
        for (auto it = m_closed.cbegin(); it != m_closed.cend(); ++it)
            n += it.key().endsWith(suffix);
        return n;
    }
    Clock::time_point latest() const
    {
        Clock::time_point t{};
        for (const auto& at : m_closed)
            t = std::max(t, at);
        return t;
    }
    void read()
    {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                return;
            const auto now = Clock::now();
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                if (e->len > 0)
                    m_closed.insert(QFile::decodeName(e->name), now);
            }
        }
    }

private:
    int m_fd = -1;
    QHash<QString, Clock::time_point> m_closed;
};

qint64 procStatusKb(qint64 pid, const char* key)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// CPU time of all the process's threads, in nanoseconds.
qint64 cpuNs(qint64 pid)
{
    qint64 total = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks + "/" + task + "/schedstat");
        if (file.open(QIODevice::ReadOnly))
            total += file.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

// A private runtime folder (XDG_RUNTIME_DIR must be the user's alone).
void makeRuntimeFolder(const QString& path)
{
    QDir().mkdir(path);
    QFile::setPermissions(path,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QProcessEnvironment headlessEnvironment(const QString& runtime)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtime);
    return env;
}

// The program in a program folder of its own, on the simulated register.
class Program
{
public:
    Program(const QString& executable, const QByteArray& parameters, const QByteArray& simulator)
    {
        m_exe = m_dir.filePath("QuorinDriverServer");
        if (!QFile::copy(executable, m_exe))
            fail("cannot copy " + executable);
        QFile::setPermissions(m_exe, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                         QFileDevice::ExeOwner);
        makeRuntimeFolder(m_dir.filePath("rt"));
        writeFile(file("ZEZOVURADUR.INI"), "[Parameters]\r\n" + parameters);
        // No journal: the register's own bookkeeping is not what is measured.
        writeFile(file("Simulatore.ini"), "[Register]\r\nJournal=\r\n" + simulator);
    }
    ~Program() { stop(); }

    QString file(const QString& name) const { return m_dir.filePath(name); }
    QString inbox() const { return file("TOSEND"); }
    qint64 pid() const { return m_process.processId(); }

    void start()
    {
        m_process.setProcessEnvironment(headlessEnvironment(file("rt")));
        m_process.setWorkingDirectory(m_dir.path());
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(file("stderr.txt"));
        m_process.start(m_exe, {});
        if (!m_process.waitForStarted())
            fail("cannot start the program");
    }
    // Until the input folder exists: the program is up.
    void waitUntilReady()
    {
        for (int i = 0; i < 1000 && !QFileInfo(inbox()).isDir(); ++i)
            QThread::msleep(10);
        if (!QFileInfo(inbox()).isDir())
            fail("the program did not start");
        QThread::msleep(200);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QTemporaryDir m_dir;
    QString m_exe;
    QProcess m_process;
};

class Baseline
{
public:
    explicit Baseline(const QString& executable) : m_exe(executable)
    {
        makeRuntimeFolder(m_dir.filePath("rt"));
    }
    ~Baseline() { stop(); }
    QString folder() const { return m_dir.path(); }
    qint64 pid() const { return m_process.processId(); }
    void start(const QString& marker = {})
    {
        m_process.setProcessEnvironment(headlessEnvironment(m_dir.filePath("rt")));
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(m_exe, marker.isEmpty() ? QStringList() : QStringList{marker});
        if (!m_process.waitForStarted())
            fail("cannot start the baseline program");
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QTemporaryDir m_dir;
    QString m_exe;
    QProcess m_process;
};

double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<qsizetype>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

struct Row
{
    QString measure;
    QString value;
    QString baseline;
    QString ratio;
    QString target;
    QString met; // "yes", "no" or "" when there is no target
};

QString fmt(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

Row ratioRow(const QString& measure, double value, double baseline, const QString& unit,
             double limit, int decimals = 1)
{
    const double ratio = baseline > 0 ? value / baseline : 0;
    return {measure,
            fmt(value, decimals) + " " + unit,
            fmt(baseline, decimals) + " " + unit,
            fmt(ratio, 2) + "×",
            "≤ " + fmt(limit, 2) + "×",
            ratio <= limit ? "yes" : "no"};
}

struct Options
{
    QString program, baseline, tickBench;
    bool smoke = false;
};

// 1. From a complete file's arrival to its verdict.
QList<Row> pickUp(const Options& o)
{
    Program program(o.program, "Frequence=5\r\n", "");
    program.start();
    program.waitUntilReady();
    ClosedFiles closed(program.inbox());
    const int files = o.smoke ? 5 : 300;
    QList<double> latencies;
    const QByteArray body = commandFile(10);
    for (int i = 0; i < files; ++i) {
        QThread::msleep(QRandomGenerator::global()->bounded(20));
        const QString name = QStringLiteral("P%1").arg(i, 5, 10, QChar('0'));
        writeFile(program.inbox() + "/" + name + ".tmp", body);
        const auto dropped = Clock::now();
        QFile::rename(program.inbox() + "/" + name + ".tmp", program.inbox() + "/" + name + ".TXT");
        const auto verdict = closed.waitFor(name + ".OK", 20000);
        if (!verdict)
            fail("no verdict for " + name);
        latencies << msBetween(dropped, *verdict);
    }
    const double median = percentile(latencies, 0.5);
    const double p99 = percentile(latencies, 0.99);
    return {
        {"Pick-up to verdict, median (Frequence 5)", fmt(median) + " ms", "", "", "< 50 ms",
         median < 50 ? "yes" : "no"},
        {"Pick-up to verdict, 99th percentile", fmt(p99) + " ms", "", "", "< 200 ms",
         p99 < 200 ? "yes" : "no"},
    };
}

// 2. Files per second through the running program, and its peak memory after them.
QList<Row> throughputAndMemory(const Options& o)
{
    const int files = o.smoke ? 10 : 1000;
    Program program(o.program, "Frequence=5\r\n", "");
    program.start();
    program.waitUntilReady();
    ClosedFiles closed(program.inbox());
    const QByteArray body = commandFile(10);
    const auto start = Clock::now();
    for (int i = 0; i < files; ++i)
        dropFile(program.inbox(), QStringLiteral("T%1").arg(i, 5, 10, QChar('0')), body);
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (closed.count(".OK") < files && Clock::now() < deadline) {
        QThread::msleep(5);
        closed.read();
    }
    if (closed.count(".OK") < files)
        fail("not every file got its verdict");
    const double seconds = msBetween(start, closed.latest()) / 1000.0;
    const double peakMb = procStatusKb(program.pid(), "VmHWM:") / 1024.0;

    Baseline baseline(o.baseline);
    baseline.start();
    QThread::msleep(1500);
    const double baselineMb = procStatusKb(baseline.pid(), "VmHWM:") / 1024.0;
    return {
        {QStringLiteral("End to end: %1 files of 10 lines dropped at once").arg(files),
         fmt(files / seconds, 0) + " files/s", "", "", "", ""},
        ratioRow(QStringLiteral("Peak RSS after %1 files").arg(files), peakMb, baselineMb, "MB",
                 1.3),
    };
}

// A large command file must not be held in memory.
QList<Row> largeFile(const Options& o)
{
    const qint64 megabytes = o.smoke ? 2 : 100;
    Program program(o.program, "Frequence=5\r\n", "");
    program.start();
    program.waitUntilReady();
    ClosedFiles closed(program.inbox());
    const QString temporary = program.inbox() + "/BIG.tmp";
    {
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly))
            fail("cannot write the large file");
        const QByteArray block = commandFile(400, 100); // about 40 KB of 100-character lines
        while (file.size() < megabytes * 1024 * 1024)
            file.write(block);
    }
    // Peak memory counted from here. Where the peak cannot be reset, the start-up's peak stays
    // in the figure, which then only overstates the raise.
    QFile clearRefs(QStringLiteral("/proc/%1/clear_refs").arg(program.pid()));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        fprintf(stderr, "qds_bench: cannot reset the peak memory figure\n");
    clearRefs.close();
    const double before = procStatusKb(program.pid(), "VmRSS:") / 1024.0;
    QFile::rename(temporary, program.inbox() + "/BIG.TXT");
    if (!closed.waitFor("BIG.OK", 600000))
        fail("no verdict for the large file");
    const double raise = procStatusKb(program.pid(), "VmHWM:") / 1024.0 - before;
    return {{QStringLiteral("RSS raise while sending a %1 MB command file").arg(megabytes),
             fmt(raise) + " MB", "", "", "< 10 MB", raise < 10 ? "yes" : "no"}};
}

// With a 9,600-baud link (10 bits a character), a line of 46 characters and CR LF takes 50 ms.
QList<Row> slowLink(const Options& o)
{
    const int lines = 20;
    Program program(o.program, "Frequence=5\r\n", "LineDelay=50\r\n");
    program.start();
    program.waitUntilReady();
    ClosedFiles closed(program.inbox());
    QList<double> times;
    for (int run = 0; run < (o.smoke ? 1 : 5); ++run) {
        const QString name = QStringLiteral("L%1").arg(run);
        writeFile(program.inbox() + "/" + name + ".tmp", commandFile(lines, 46));
        const auto dropped = Clock::now();
        QFile::rename(program.inbox() + "/" + name + ".tmp", program.inbox() + "/" + name + ".TXT");
        const auto verdict = closed.waitFor(name + ".OK", 20000);
        if (!verdict)
            fail("no verdict for " + name);
        times << msBetween(dropped, *verdict);
    }
    return {ratioRow("20-line file over a 9,600-baud link (sum of line delays as baseline)",
                     percentile(times, 0.5), lines * 50.0, "ms", 1.05, 0)};
}

// CPU time while nothing happens, and while a line waits for an open cover.
QList<Row> idle(const Options& o)
{
    const int seconds = o.smoke ? 2 : 60;
    Program empty(o.program, "Frequence=1\r\n", "");
    Program cover(o.program, "Frequence=1\r\n", "[Rules]\r\nRule1=^COVER => cover 100000000\r\n");
    Baseline baseline(o.baseline);
    empty.start();
    cover.start();
    baseline.start();
    empty.waitUntilReady();
    cover.waitUntilReady();
    dropFile(cover.inbox(), "COVER", "COVER\r\n");
    for (int i = 0; i < 500 && !QFile::exists(cover.file("TOSEND/QuorinDriverServer.LOG")); ++i)
        QThread::msleep(10);
    if (!QFile::exists(cover.file("TOSEND/QuorinDriverServer.LOG")))
        fail("the cover wait did not begin");
    QThread::msleep(1500);
    const qint64 e0 = cpuNs(empty.pid()), c0 = cpuNs(cover.pid()), b0 = cpuNs(baseline.pid());
    QThread::sleep(seconds);
    const qint64 e1 = cpuNs(empty.pid()), c1 = cpuNs(cover.pid()), b1 = cpuNs(baseline.pid());
    auto percent = [seconds](qint64 ns) {
        return 100.0 * static_cast<double>(ns) / (seconds * 1e9);
    };
    return {
        ratioRow("Idle CPU, empty folder, Frequence 1 (% of a core)", percent(e1 - e0),
                 percent(b1 - b0), "%", 1.5, 3),
        ratioRow("CPU while a line waits for an open cover (% of a core)", percent(c1 - c0),
                 percent(b1 - b0), "%", 1.5, 3),
    };
}

// From exec to the verdict of "Avvio.txt", against the empty program's time to its event loop.
QList<Row> startUp(const Options& o)
{
    const int runs = o.smoke ? 1 : 15;
    QList<double> ours, theirs;
    Program program(o.program, "Frequence=5\r\n", "");
    writeFile(program.file("Avvio.txt"), "=K\r\n");
    Baseline baseline(o.baseline);
    for (int run = 0; run < runs; ++run) {
        QFile::remove(program.file("Avvio.OK"));
        {
            ClosedFiles closed(program.file(""));
            const auto start = Clock::now();
            program.start();
            const auto verdict = closed.waitFor("Avvio.OK", 20000);
            if (!verdict)
                fail("no verdict for Avvio.txt");
            ours << msBetween(start, *verdict);
            program.stop();
        }
        {
            const QString marker = baseline.folder() + "/ready";
            QFile::remove(marker);
            ClosedFiles closed(baseline.folder());
            const auto start = Clock::now();
            baseline.start(marker);
            const auto ready = closed.waitFor("ready", 20000);
            if (!ready)
                fail("the baseline program did not start");
            theirs << msBetween(start, *ready);
            baseline.stop();
        }
    }
    return {ratioRow("Start-up to the verdict of Avvio.txt (median)", percentile(ours, 0.5),
                     percentile(theirs, 0.5), "ms", 1.5)};
}

// The in-process tick against its floor, and the cost per file with leftovers in the folder.
QList<Row> tick(const Options& o, const QString& where, const QString& tempFolder, bool scaling)
{
    QProcess bench;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tempFolder);
    bench.setProcessEnvironment(env);
    QStringList args = {"--benchmark_format=json"};
    QString filter = scaling ? "Floor|Tick" : "Floor|TickFromEvents";
    if (o.smoke) {
        args << "--benchmark_min_time=0.01";
        filter = "Floor|TickFrom|TickWithLeftovers/50/(0|1000)/|TenThousand";
    } else {
        args << "--benchmark_repetitions=5"
             << "--benchmark_report_aggregates_only=true";
    }
    args << "--benchmark_filter=" + filter;
    bench.start(o.tickBench, args);
    if (!bench.waitForFinished(-1) || bench.exitCode() != 0)
        fail("the tick benchmark failed: " + QString::fromLocal8Bit(bench.readAllStandardError()));
    const auto json = QJsonDocument::fromJson(bench.readAllStandardOutput()).object();
    QHash<QString, double> perFileMs;   // benchmark name without suffixes -> ms per file
    std::optional<double> floodSeconds; // one tick over 10,000 files
    for (const QJsonValue& value : json.value("benchmarks").toArray()) {
        const QJsonObject b = value.toObject();
        const QString aggregate = b.value("aggregate_name").toString();
        if (!o.smoke && aggregate != "median")
            continue;
        if (b.value("error_occurred").toBool())
            fail("the tick benchmark reports: " + b.value("error_message").toString());
        QString name = b.value("run_name").toString();
        name.remove("/real_time");
        if (name.startsWith("BM_TenThousandFilesInOneTick")) {
            floodSeconds = b.value("real_time").toDouble();
            continue;
        }
        perFileMs[name] = b.value("real_time").toDouble() / 50.0;
    }
    auto get = [&](const QString& name) {
        if (!perFileMs.contains(name))
            fail("no result for " + name);
        return perFileMs.value(name);
    };
    QList<Row> rows = {ratioRow("Tick, cost per 10-line file (" + where + "), floor as baseline",
                                get("BM_TickFromEvents/50"), get("BM_Floor/50"), "ms", 1.5, 3)};
    if (scaling) {
        rows << Row{"Tick by the timer (whole folder read), cost per file (" + where + ")",
                    fmt(get("BM_TickFromTimer/50"), 3) + " ms",
                    "",
                    "",
                    "",
                    ""};
        const double none = get("BM_TickWithLeftovers/50/0");
        for (int leftovers : {1000, 10000, 100000}) {
            const QString name = QStringLiteral("BM_TickWithLeftovers/50/%1").arg(leftovers);
            if (!perFileMs.contains(name))
                continue;
            rows << ratioRow(QStringLiteral("Cost per file with %1 leftover result files, "
                                            "0 as baseline")
                                 .arg(leftovers),
                             perFileMs.value(name), none, "ms", leftovers == 100000 ? 2.0 : 2.0, 3);
        }
        if (floodSeconds)
            rows << Row{"One tick over 10,000 one-line files (" + where + "), each sent once",
                        fmt(*floodSeconds, 1) + " s",
                        "",
                        "",
                        "",
                        ""};
    }
    return rows;
}

// SendCommand's round trip to a driver program that answers at once, and to the built-in
// register.
QList<Row> driverRoundTrip(const Options& o)
{
    const QString bench = QFileInfo(o.tickBench).dir().filePath("driver_bench");
    const QString simulator = QFileInfo(QFileInfo(o.program).absoluteFilePath())
                                  .dir()
                                  .filePath("QuorinSimulatedRegister");
    QProcess p;
    p.start(bench, {"--simulator", simulator, "--calls", o.smoke ? "200" : "20000"});
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        fail("the driver benchmark failed: " + QString::fromLocal8Bit(p.readAllStandardError()));
    const auto json = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    const auto builtIn = json.value("builtin").toObject();
    const auto program = json.value("program").toObject();
    auto row = [&](const char* what, const char* key, double limitMs) {
        const double ms = program.value(key).toDouble() / 1000.0;
        return Row{QStringLiteral("SendCommand round trip, driver program answering at once (%1)")
                       .arg(what),
                   fmt(ms, 4) + " ms",
                   fmt(builtIn.value(key).toDouble() / 1000.0, 4) + " ms (built-in register)",
                   "",
                   "≤ " + fmt(limitMs, 1) + " ms",
                   ms <= limitMs ? "yes" : "no"};
    };
    return {row("median", "median_us", 0.1), row("99th percentile", "p99_us", 1.0)};
}

QString machine()
{
    QString cpu;
    QFile info("/proc/cpuinfo");
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : info.readAll().split('\n'))
            if (line.startsWith("model name")) {
                cpu = QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
    }
    return QStringLiteral("%1, %2 cores, %3 %4, Qt %5, %6")
        .arg(cpu)
        .arg(QThread::idealThreadCount())
        .arg(QSysInfo::prettyProductName(), QSysInfo::kernelVersion(), qVersion(),
             QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd HH:mm 'UTC'"));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions(
        {{"program", "The program's executable.", "path"},
         {"baseline", "The empty Qt program.", "path"},
         {"tick-bench", "The in-process tick benchmark.", "path"},
         {"smoke", "Run everything briefly; the figures mean nothing."},
         {"out", "Also write the table to this file.", "path"},
         {"only", "Run only the measures whose step name contains this text.", "text"}});
    parser.process(app);
    Options o{parser.value("program"), parser.value("baseline"), parser.value("tick-bench"),
              parser.isSet("smoke")};
    if (o.program.isEmpty() || o.baseline.isEmpty() || o.tickBench.isEmpty())
        parser.showHelp(2);

    QList<Row> rows;
    const QString only = parser.value("only");
    auto run = [&](const char* what, const std::function<QList<Row>()>& measure) {
        if (!only.isEmpty() && !QString::fromLatin1(what).contains(only))
            return;
        fprintf(stderr, "qds_bench: %s...\n", what);
        rows << measure();
    };
    run("pick-up latency", [&] { return pickUp(o); });
    run("tick against the floor", [&] { return tick(o, "disk", QDir::tempPath(), true); });
    if (QFileInfo("/dev/shm").isWritable())
        run("tick on a RAM file system", [&] { return tick(o, "RAM", "/dev/shm", false); });
    run("end to end and memory", [&] { return throughputAndMemory(o); });
    run("slow link", [&] { return slowLink(o); });
    run("large file", [&] { return largeFile(o); });
    run("start-up", [&] { return startUp(o); });
    run("idle", [&] { return idle(o); });
    run("driver round trip", [&] { return driverRoundTrip(o); });

    QString table = "| Measure | Value | Baseline | Ratio | Target | Met |\n"
                    "|---|---|---|---|---|---|\n";
    for (const Row& r : rows)
        table += QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 |\n")
                     .arg(r.measure, r.value, r.baseline, r.ratio, r.target, r.met);
    const QString text =
        (o.smoke ? QStringLiteral("Smoke run (figures mean nothing). ") : QString()) +
        "Machine: " + machine() + "\n\n" + table;
    fputs(qPrintable(text), stdout);
    if (parser.isSet("out")) {
        QFile out(parser.value("out"));
        if (!out.open(QIODevice::WriteOnly) || out.write(text.toUtf8()) < 0)
            fail("cannot write " + parser.value("out"));
    }
    return 0;
}
