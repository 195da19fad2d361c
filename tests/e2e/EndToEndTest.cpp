// Runs the real executable from a temporary program folder on the simulated register and checks
// the files it leaves: once with the built-in simulated register, once with the same register as
// a driver program of its own. Both must leave the same journal and result files.
#include "common/TextLines.h"
#include "pipeline/RecoveryRecord.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <functional>

namespace {

// Waits for something the program should do; the budget is scaled (budgetMs).
bool waitFor(const std::function<bool()>& condition, int budget = 30000)
{
    QElapsedTimer timer;
    timer.start();
    const int timeoutMs = budgetMs(budget);
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

enum class Driver { BuiltIn, Program };

class ProgramFolder
{
public:
    explicit ProgramFolder(Driver driver) : m_driver(driver)
    {
        QFile::copy(QStringLiteral(QDS_EXECUTABLE), exe());
        if (driver == Driver::Program)
            QFile::copy(QStringLiteral(QDS_SIMULATOR_EXECUTABLE), file("QuorinSimulatedRegister"));
        QFile::setPermissions(exe(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                         QFileDevice::ExeOwner);
        QDir().mkdir(file("runtime"));
        QFile::setPermissions(file("runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner);
        write("ZEZOVURADUR.INI", "[Parameters]\r\nFrequence=0.2\r\n");
    }
    ~ProgramFolder()
    {
        for (auto& p : m_processes) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(budgetMs(5000));
            }
        }
    }
    QString exe() const { return m_dir.file("QuorinDriverServer"); }
    QString file(const QString& name) const { return m_dir.file(name); }
    // The settings always name the driver program when the folder runs with one.
    void write(const QString& name, const QByteArray& bytes)
    {
        const bool settings = name == QLatin1String("ZEZOVURADUR.INI");
        writeBytes(file(name), settings && m_driver == Driver::Program
                                   ? bytes + "[Driver]\r\nProgram=QuorinSimulatedRegister\r\n"
                                   : bytes);
    }
    QStringList journal() const { return splitTextLines(readBytes(file("Simulatore.log"))); }
    // Journal entries without their time stamps.
    QStringList operations() const
    {
        QStringList out;
        for (const QString& line : journal())
            out << line.mid(20);
        return out;
    }

    QProcess& start(const QStringList& arguments = {}, const QString& display = {})
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert("XDG_RUNTIME_DIR", file("runtime"));
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(m_dir.path());
        process->start(exe(), arguments);
        process->waitForStarted(budgetMs(30000));
        m_processes.push_back(std::move(process));
        return *m_processes.back();
    }

private:
    Driver m_driver;
    TempFolder m_dir;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

int exitCode(QProcess& p)
{
    if (!p.waitForFinished(budgetMs(30000)))
        return -1000;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2000;
}

class EndToEnd : public ::testing::TestWithParam<Driver>
{
};

} // namespace

INSTANTIATE_TEST_SUITE_P(, EndToEnd, ::testing::Values(Driver::BuiltIn, Driver::Program),
                         [](const auto& info) {
                             return info.param == Driver::BuiltIn ? "BuiltInSimulator"
                                                                  : "SimulatorAsDriverProgram";
                         });

TEST_P(EndToEnd, SendsDroppedFilesAndShutsDownOnSigterm)
{
    ProgramFolder pf(GetParam());
    pf.write("Avvio.txt", "START\r\n");
    pf.write("Stop.txt", "END\r\n");
    pf.write("Simulatore.ini", "[Rules]\r\nRule1=^BAD => result 17\r\n");
    QProcess& p = pf.start();
    ASSERT_TRUE(waitFor([&] { return pf.operations().contains("Send=1;1;0;START"); }));
    pf.write("TOSEND/GOOD.TXT", "ITEM\r\n");
    pf.write("TOSEND/BAD.TXT", "ITEM\r\nBAD\r\n");
    // A verdict (.OK, or .KO then the copy) comes before the deletion, the last step of a file.
    ASSERT_TRUE(waitFor([&] {
        return fileExists(pf.file("TOSEND/GOOD.OK")) && fileExists(pf.file("TOSEND/BAD.KO")) &&
               !fileExists(pf.file("TOSEND/BAD.TXT")) && !fileExists(pf.file("TOSEND/GOOD.TXT"));
    }));
    EXPECT_EQ(readBytes(pf.file("TOSEND/BAD.KO")),
              QByteArray("Error=17;Errore generico;Row 2;BAD\r\n"));
    EXPECT_EQ(QDir(pf.file("UNSENT")).entryList(QDir::Files).size(), 1);
    EXPECT_FALSE(fileExists(pf.file("TOSEND/GOOD.TXT")));

    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_EQ(exitCode(p), 0);
    const QStringList ops = pf.operations();
    ASSERT_GE(ops.size(), 4);
    EXPECT_EQ(ops.first(), "OpenPort=1;0");
    EXPECT_EQ(ops[1], "Send=1;1;0;START");
    EXPECT_EQ(ops[ops.size() - 2].left(11), "Query=<</?s");
    EXPECT_TRUE(ops.contains("Send=1;1;0;END"));
    EXPECT_LT(ops.indexOf("Send=2;1;17;BAD"), ops.indexOf("Send=1;1;0;END"));
    EXPECT_EQ(ops.last(), "ClosePort");
    const QString errors = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(errors.contains("offscreen"));
    // A service's journal says what ran, where, and that it ended.
    EXPECT_TRUE(errors.contains("QuorinDriverServer: started in " + QFileInfo(pf.exe()).path() +
                                " (input folder " + pf.file("TOSEND/") + ", "))
        << errors.toStdString();
    EXPECT_TRUE(errors.contains(", port 1)")) << errors.toStdString();
    EXPECT_TRUE(errors.trimmed().endsWith("QuorinDriverServer: ended (exit status 0)"))
        << errors.toStdString();
    EXPECT_TRUE(fileExists(pf.file("Avvio.txt")));
    EXPECT_TRUE(fileExists(pf.file("Stop.txt")));
}

TEST_P(EndToEnd, FileIsTakenWhenItsWriterClosesItNeverHalfWritten)
{
    ProgramFolder pf(GetParam());
    pf.write("ZEZOVURADUR.INI", "[Parameters]\r\nFrequence=3600\r\n");
    QProcess& p = pf.start();
    ASSERT_TRUE(waitFor([&] { return pf.operations().contains("OpenPort=1;0"); }));
    // Another program writes a line every 100 ms and keeps the file open meanwhile; the
    // second time its clock is two hours ahead of ours (a share), so the file's date says
    // nothing about whether it is complete.
    for (const int skewSeconds : {0, 7200}) {
        SCOPED_TRACE(skewSeconds);
        const int sentBefore = pf.operations().filter("Send=").size();
        {
            QFile writer(pf.file("TOSEND/SLOW.TXT"));
            ASSERT_TRUE(writer.open(QIODevice::WriteOnly));
            for (int i = 1; i <= 10; ++i) {
                writer.write(QByteArray("LINE ") + QByteArray::number(i) + "\r\n");
                writer.flush();
                if (skewSeconds != 0)
                    writer.setFileTime(QDateTime::currentDateTime().addSecs(skewSeconds),
                                       QFileDevice::FileModificationTime);
                QThread::msleep(100);
            }
            EXPECT_EQ(pf.operations().filter("Send=").size(), sentBefore);
        }
        // The timer would not come for an hour: the close is what starts the send.
        ASSERT_TRUE(waitFor([&] { return fileExists(pf.file("TOSEND/SLOW.OK")); }));
        const QStringList sends = pf.operations().filter("Send=").mid(sentBefore);
        ASSERT_EQ(sends.size(), 10);
        EXPECT_EQ(sends.first(), "Send=1;1;0;LINE 1");
        EXPECT_EQ(sends.last(), "Send=10;1;0;LINE 10");
        ASSERT_TRUE(waitFor([&] { return !fileExists(pf.file("TOSEND/SLOW.TXT")); }));
        QFile::remove(pf.file("TOSEND/SLOW.OK"));
    }
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_EQ(exitCode(p), 0);
}

TEST_P(EndToEnd, StopLineEndsTheProgram)
{
    ProgramFolder pf(GetParam());
    pf.write("Stop.txt", "END\r\n");
    QProcess& p = pf.start();
    ASSERT_TRUE(waitFor([&] { return fileExists(pf.file("TOSEND")); }));
    pf.write("TOSEND/Q.TXT", "STOP\r\nAFTER\r\n");
    EXPECT_EQ(exitCode(p), 0);
    const QStringList ops = pf.operations();
    EXPECT_TRUE(ops.contains("Send=2;1;0;AFTER"));
    EXPECT_EQ(ops.filter("Send=1;1;0;END").size(), 1);
    EXPECT_EQ(ops.last(), "ClosePort");
}

TEST_P(EndToEnd, StopInsideTheStartFile)
{
    ProgramFolder pf(GetParam());
    pf.write("Avvio.txt", "STOP\r\n");
    pf.write("Stop.txt", "END\r\n");
    QProcess& p = pf.start();
    EXPECT_EQ(exitCode(p), 0);
    const QStringList ops = pf.operations();
    ASSERT_FALSE(ops.isEmpty());
    EXPECT_EQ(ops.first(), "OpenPort=1;0");
    EXPECT_EQ(ops.filter("Send=").join(','), "Send=1;1;0;END");
    EXPECT_EQ(ops.last(), "ClosePort");
}

TEST_P(EndToEnd, PortThatDoesNotOpenEndsAtOnce)
{
    ProgramFolder pf(GetParam());
    pf.write("Stop.txt", "END\r\n");
    pf.write("Simulatore.ini", "[Register]\r\nPorts=2\r\n");
    pf.write("ZEZOVURADUR.INI", "[Parameters]\r\nLanguage=English\r\n");
    QProcess& p = pf.start();
    EXPECT_EQ(exitCode(p), 3);
    EXPECT_EQ(pf.operations(), QStringList({"OpenPort=1;203"}));
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardError())
                    .contains("Impossibile caricare il programma gestione cassa."));
}

TEST_P(EndToEnd, OneInstancePerProgramFolder)
{
    ProgramFolder pf(GetParam());
    QProcess& first = pf.start();
    ASSERT_TRUE(waitFor([&] { return pf.operations().contains("OpenPort=1;0"); }));
    QProcess& second = pf.start();
    EXPECT_EQ(exitCode(second), 2);
    EXPECT_TRUE(QString::fromLocal8Bit(second.readAllStandardError())
                    .contains(QStringLiteral("Questo programma è già stato caricato.")));
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(pf.operations().filter("OpenPort").size(), 1);

    // Another folder runs its own instance.
    ProgramFolder other(GetParam());
    QProcess& third = other.start();
    ASSERT_TRUE(waitFor([&] { return other.operations().contains("OpenPort=1;0"); }));
    ::kill(static_cast<pid_t>(third.processId()), SIGINT);
    EXPECT_EQ(exitCode(third), 0);

    // A lock left by a killed instance does not block the next start, even left empty (a
    // kill while it was being written).
    first.kill();
    first.waitForFinished(budgetMs(5000));
    const QStringList locks = QDir(pf.file("runtime")).entryList({"QuorinDriverServer-*.lock"});
    ASSERT_EQ(locks.size(), 1);
    writeBytes(pf.file("runtime/" + locks.first()), "");
    QProcess& again = pf.start();
    ASSERT_TRUE(waitFor([&] { return pf.operations().filter("OpenPort=1;0").size() == 2; }));
    ::kill(static_cast<pid_t>(again.processId()), SIGTERM);
    EXPECT_EQ(exitCode(again), 0);
}

namespace {

// Kills the program with SIGKILL in the middle of a file sent slowly, restarts it, and gives
// back the restarted process.
QProcess& crashWhileSending(ProgramFolder& pf, bool registerMovedOn, bool receiptBefore = false)
{
    pf.write("Simulatore.ini", "[Register]\r\nLineDelay=300\r\nNextReceipt=1\r\n");
    QProcess& first = pf.start();
    EXPECT_TRUE(waitFor([&] { return pf.operations().contains("OpenPort=1;0"); }));
    if (receiptBefore) {
        pf.write("TOSEND/R.TXT", "R1\r\n");
        EXPECT_TRUE(waitFor([&] { return pf.operations().contains("Receipt=1"); }));
    }
    pf.write("TOSEND/F.TXT", "L1\r\nL2\r\nL3\r\nL4\r\nL5\r\nL6\r\n");
    // Killed once the program knows the register took L2 (a driver program journals a line
    // before the program hears its answer).
    EXPECT_TRUE(waitFor([&] {
        const auto record = RecoveryRecord::read(pf.file("TOSEND/QuorinDriverServer.REC"));
        return record && record->acceptedRow == 2;
    }));
    first.kill();
    first.waitForFinished(budgetMs(5000));
    EXPECT_TRUE(fileExists(pf.file("TOSEND/QuorinDriverServer.REC")));
    if (registerMovedOn) // the register printed the receipt before the crash
        pf.write("Simulatore.ini", "[Register]\r\nLineDelay=300\r\nNextReceipt=2\r\n");
    return pf.start();
}

void expectNothingSentTwice(const ProgramFolder& pf)
{
    const QStringList sends = pf.operations().filter("Send=");
    for (const char* line : {"L1", "L2", "L3", "L4", "L5", "L6"})
        EXPECT_LE(sends.filter(QRegularExpression(QStringLiteral(";%1$").arg(line))).size(), 1)
            << line;
}

} // namespace

TEST_P(EndToEnd, CrashedFileThatReachedTheRegisterIsRecordedAsSent)
{
    ProgramFolder pf(GetParam());
    QProcess& p = crashWhileSending(pf, true);
    // Its verdict is complete once the record says nothing is being sent (a SIGTERM earlier
    // would give up the status query of a driver program, and log ticket 0).
    ASSERT_TRUE(waitFor([&] {
        return fileExists(pf.file("TOSEND/F.OK")) &&
               !RecoveryRecord::read(pf.file("TOSEND/QuorinDriverServer.REC"));
    }));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_EQ(exitCode(p), 0);
    expectNothingSentTwice(pf);
    EXPECT_FALSE(fileExists(pf.file("TOSEND/F.TXT")));
    EXPECT_TRUE(readBytes(pf.file("TOSEND/F.OK")).endsWith(";Dump=0001\r\n"));
    const QStringList log = splitTextLines(readBytes(pf.file("TOSEND/QuorinDriverServer.LOG")));
    EXPECT_EQ(log.filter(";Interrupted=").size(), 1);
    const qsizetype interrupted = log.indexOf(QRegularExpression(".*;Interrupted=.*"));
    ASSERT_GE(interrupted, 0);
    ASSERT_LT(interrupted + 1, log.size());
    EXPECT_TRUE(log[interrupted + 1].endsWith(";Ticket=1"))
        << log.join('\n').toStdString() << '\n'
        << pf.journal().join('\n').toStdString() << p.readAllStandardError().toStdString();
    // Nothing left to recover (the record itself stays for the next file).
    EXPECT_FALSE(RecoveryRecord::read(pf.file("TOSEND/QuorinDriverServer.REC")).has_value());
}

TEST_P(EndToEnd, CrashedFileThatDidNotReachTheRegisterWaitsForAPerson)
{
    ProgramFolder pf(GetParam());
    QProcess& p = crashWhileSending(pf, false);
    ASSERT_TRUE(waitFor([&] {
        return fileExists(pf.file("TOSEND/F.KO")) && !fileExists(pf.file("TOSEND/F.TXT"));
    }));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_EQ(exitCode(p), 0);
    expectNothingSentTwice(pf);
    EXPECT_EQ(readBytes(pf.file("TOSEND/F.KO")),
              QByteArray("Error=553;Impossibile inviare scontrino al registratore di cassa.;"
                         "Row 3;L3\r\n"));
    EXPECT_FALSE(fileExists(pf.file("TOSEND/F.TXT")));
    EXPECT_EQ(QDir(pf.file("UNSENT")).entryList(QDir::Files).size(), 1);
}

TEST_P(EndToEnd, RegisterThatKeptItsNumberAfterACrashIsNotTakenForAReceipt)
{
    // Receipt 1 made, then the crash: after the restart the register still says 1.
    ProgramFolder pf(GetParam());
    QProcess& p = crashWhileSending(pf, false, true);
    ASSERT_TRUE(waitFor([&] {
        return fileExists(pf.file("TOSEND/F.KO")) && !fileExists(pf.file("TOSEND/F.TXT"));
    }));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_EQ(exitCode(p), 0);
    expectNothingSentTwice(pf);
    EXPECT_TRUE(readBytes(pf.file("TOSEND/F.KO")).startsWith("Error=553;"));
    EXPECT_FALSE(fileExists(pf.file("TOSEND/F.OK")));
    EXPECT_FALSE(fileExists(pf.file("TOSEND/F.TXT")));
    EXPECT_EQ(QDir(pf.file("UNSENT")).entryList(QDir::Files).size(), 1);
}

TEST_P(EndToEnd, ShutDownDoesNotWaitForARegisterThatStoppedAnswering)
{
    ProgramFolder pf(GetParam());
    pf.write("Stop.txt", "END\r\n");
    pf.write("Simulatore.ini", "[Rules]\r\nRule1=^HANG => delay 100000000\r\n"
                               "Rule2=^COVER => cover 100000000\r\n");
    for (const char* stuck : {"HANG", "COVER"}) {
        QProcess& p = pf.start();
        ASSERT_TRUE(waitFor([&] { return fileExists(pf.file("TOSEND")); }));
        pf.write("TOSEND/S.TXT", QByteArray(stuck) + "\r\nNEXT\r\n");
        ASSERT_TRUE(waitFor([&] {
            return !fileExists(pf.file("TOSEND/S.TXT")) || pf.operations().contains("Status=11") ||
                   QFileInfo(pf.file("TOSEND/QuorinDriverServer.REC")).exists();
        }));
        QThread::msleep(1500);
        QElapsedTimer timer;
        timer.start();
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        EXPECT_EQ(exitCode(p), 0) << stuck;
        EXPECT_LT(timer.elapsed(), budgetMs(5000)) << stuck;
        EXPECT_TRUE(fileExists(pf.file("TOSEND/S.KO"))) << stuck;
        EXPECT_EQ(pf.operations().last(), "ClosePort");
        EXPECT_EQ(pf.operations().filter(";NEXT").size(), 0)
            << pf.operations().join('\n').toStdString();
        QFile::remove(pf.file("TOSEND/S.KO"));
    }
}

TEST_P(EndToEnd, HelpVersionAndUnknownOptionsNeverOpenTheRegister)
{
    ProgramFolder pf(GetParam());
    pf.write("Avvio.txt", "PRINTS A RECEIPT\r\n");
    struct Case
    {
        QStringList arguments;
        int status;
        const char* output;
    };
    const Case cases[] = {
        {{"--help"}, 0, "--version"},
        {{"--version"}, 0, "QuorinDriverServer " QDS_VERSION},
        {{"--bogus"}, 1, "Unknown option 'bogus'"},
        {{"--folder", ""}, 1, "QuorinDriverServer: --folder needs the name of a folder"},
        {{"--autostart", "maybe"}, 1, "QuorinDriverServer: --autostart takes on or off"},
    };
    for (const Case& c : cases) {
        QProcess& p = pf.start(c.arguments);
        EXPECT_EQ(exitCode(p), c.status) << c.arguments.join(' ').toStdString();
        const QByteArray output = p.readAllStandardOutput() + p.readAllStandardError();
        EXPECT_TRUE(output.contains(c.output)) << output.toStdString();
    }
    EXPECT_FALSE(fileExists(pf.file("Simulatore.log"))); // the register was never opened
    EXPECT_FALSE(fileExists(pf.file("Avvio.OK")));
}

TEST_P(EndToEnd, SecondInstanceWithADisplayEndsOnSignals)
{
    // A real X server: with a display the message is a box that waits for a click.
    XServer xvfb;
    if (!xvfb.start() && QStandardPaths::findExecutable("Xvfb").isEmpty())
        GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_FALSE(xvfb.display().isEmpty()) << xvfb.error().toStdString();
    const QString display = xvfb.display();
    ProgramFolder pf(GetParam());
    QProcess& first = pf.start({}, display);
    ASSERT_TRUE(waitFor([&] { return pf.operations().contains("OpenPort=1;0"); }));
    for (int signal : {SIGTERM, SIGINT}) {
        QProcess& second = pf.start({}, display);
        second.setReadChannel(QProcess::StandardError);
        // The message goes to standard error too.
        ASSERT_TRUE(waitFor([&] {
            second.waitForReadyRead(50);
            return QString::fromLocal8Bit(second.peek(4096))
                .contains(QStringLiteral("Questo programma è già stato caricato."));
        }));
        QThread::msleep(300);
        EXPECT_EQ(second.state(), QProcess::Running); // the box waits
        ::kill(static_cast<pid_t>(second.processId()), signal);
        EXPECT_EQ(exitCode(second), 2);
    }
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    EXPECT_EQ(exitCode(first), 0);
}

namespace {

// What a run leaves, without its times: the journal's operations and every result, log and
// copied file (lines without their date, copies without their time prefix).
QMap<QString, QStringList> runLeaves(Driver driver)
{
    ProgramFolder pf(driver);
    pf.write("Avvio.txt", "START\r\n");
    pf.write("Stop.txt", "END\r\n");
    pf.write("Simulatore.ini", "[Rules]\r\nRule1=^BAD => result 17\r\nRule2=^PAY => cover 2\r\n"
                               "Rule3=^TOTAL (\\d+) => dump total $1 \xE8\x80\r\n"
                               "Rule4=^EXT => result 114, extended 7\r\n");
    QProcess& p = pf.start();
    EXPECT_TRUE(waitFor([&] { return pf.operations().contains("Send=1;1;0;START"); }));
    // One file at a time: the order of files waiting together is not promised.
    const std::pair<const char*, QByteArray> files[] = {
        {"A", "caff\xE8 \x80 1\r\nTOTAL 5\r\nPAY\r\n" + QByteArray(65000, 'x') + "\r\n"},
        {"B", "ITEM\r\nBAD\r\n"},
        {"C", "EXT\r\n"},
    };
    for (const auto& [name, bytes] : files) {
        const QString path = pf.file(QStringLiteral("TOSEND/%1.TXT").arg(name));
        pf.write(QStringLiteral("TOSEND/%1.TXT").arg(name), bytes);
        EXPECT_TRUE(waitFor([&] { return !fileExists(path); })) << name;
    }
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_EQ(exitCode(p), 0);
    QMap<QString, QStringList> leaves;
    leaves["journal"] = pf.operations();
    auto undated = [](const QByteArray& bytes) {
        QStringList lines = splitTextLines(bytes);
        for (QString& line : lines)
            line = line.section(';', 1);
        return lines;
    };
    for (const QString& name : QDir(pf.file("TOSEND")).entryList(QDir::Files))
        leaves["TOSEND/" + name] = undated(readBytes(pf.file("TOSEND/" + name)));
    for (const QString& name : QDir(pf.file("UNSENT")).entryList(QDir::Files))
        leaves["UNSENT/" + name.mid(12)] = splitTextLines(readBytes(pf.file("UNSENT/" + name)));
    return leaves;
}

} // namespace

TEST(EndToEndDesktop, WindowCarriesTheClassItsMenuEntryNames)
{
    XServer xvfb;
    if (QStandardPaths::findExecutable("xdotool").isEmpty() ||
        QStandardPaths::findExecutable("xprop").isEmpty())
        GTEST_SKIP() << "xdotool or xprop is not installed";
    if (!xvfb.start() && QStandardPaths::findExecutable("Xvfb").isEmpty())
        GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_FALSE(xvfb.display().isEmpty()) << xvfb.error().toStdString();
    const QString entry = readBytes(QDS_SOURCE_DIR "/packaging/quorindriverserver.desktop.in");
    const QString wmClass =
        QRegularExpression("\\nStartupWMClass=(.*)\\n").match(entry).captured(1);
    ASSERT_FALSE(wmClass.isEmpty()) << "the menu entry names no window class";
    ProgramFolder pf(Driver::BuiltIn);
    QProcess& p = pf.start({}, xvfb.display());
    auto x = [&](const QString& tool, const QStringList& arguments) {
        QProcess q;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", xvfb.display());
        q.setProcessEnvironment(env);
        q.start(tool, arguments);
        q.waitForFinished(budgetMs(5000));
        return QString::fromLatin1(q.readAllStandardOutput()).trimmed();
    };
    QString window;
    ASSERT_TRUE(waitFor([&] {
        window = x("xdotool", {"search", "--name", "Quorin Driver Server"}).section('\n', 0, 0);
        return !window.isEmpty();
    }));
    // WM_CLASS(STRING) = "instance", "class"
    const QString classes = x("xprop", {"-id", window, "WM_CLASS"});
    EXPECT_EQ(classes.section('"', 3, 3), wmClass) << classes.toStdString();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_EQ(exitCode(p), 0);
}

TEST(EndToEndBothWays, DriverProgramLeavesWhatTheBuiltInRegisterLeaves)
{
    const auto builtIn = runLeaves(Driver::BuiltIn);
    const auto program = runLeaves(Driver::Program);
    EXPECT_EQ(builtIn.keys(), program.keys());
    for (const QString& key : builtIn.keys())
        EXPECT_EQ(builtIn.value(key), program.value(key)) << key.toStdString();
    // The run did what it is meant to show: events during a call, accents, a long line.
    EXPECT_TRUE(builtIn.value("journal").contains("Status=11"));
    EXPECT_TRUE(builtIn.value("TOSEND/A.OK").contains(QString::fromUtf8("Dump=total 5 è€")));
    EXPECT_EQ(builtIn.value("journal").filter(QString(65000, u'x')).size(), 1);
    EXPECT_EQ(builtIn.value("TOSEND/C.KO").size(), 1);
}

TEST(EndToEndDriverProgram, FaultsFailTheFileAndLoseNothing)
{
    struct Case
    {
        const char* behaviour;
        const char* ko; // the verdict's start
    };
    const Case cases[] = {
        {"dies", "Error=571;"},    // crash in the middle of the file
        {"garbage", "Error=571;"}, // not the protocol
        {"silent", "Error=572;"},  // no answer within Timeout
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        ProgramFolder pf(Driver::BuiltIn);
        pf.write("ZEZOVURADUR.INI",
                 "[Parameters]\r\nFrequence=0.2\r\n[Driver]\r\nProgram=python3 " +
                     QByteArray(QDS_FAKE_DRIVER) + " " + c.behaviour +
                     " calls.log\r\nTimeout=" + QByteArray::number(budgetMs(2000) / 1000.0) +
                     "\r\nStartTimeout=" + QByteArray::number(budgetMs(30000) / 1000) + "\r\n");
        QProcess& p = pf.start();
        ASSERT_TRUE(waitFor([&] { return fileExists(pf.file("TOSEND")); }));
        pf.write("TOSEND/F.TXT", "DIE\r\nNEVER\r\n");
        // The .KO comes first, then the copy, then the file goes.
        ASSERT_TRUE(waitFor([&] { return !fileExists(pf.file("TOSEND/F.TXT")); }));
        EXPECT_TRUE(readBytes(pf.file("TOSEND/F.KO")).startsWith(c.ko));
        EXPECT_EQ(QDir(pf.file("UNSENT")).entryList(QDir::Files).size(), 1);
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        EXPECT_EQ(exitCode(p), 0);
        const QString errors = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_TRUE(errors.contains("Driver python3 fake_driver.py:")) << errors.toStdString();
        // Started again for Stop.txt, with its port.
        EXPECT_GE(QString(readBytes(pf.file("calls.log"))).count("start"), 2);
    }
    ProgramFolder pf(Driver::BuiltIn);
    pf.write("ZEZOVURADUR.INI", "[Driver]\r\nProgram=no-such-driver\r\n");
    QProcess& p = pf.start();
    EXPECT_EQ(exitCode(p), 3);
    const QString errors = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(errors.contains("cannot be started")) << errors.toStdString();
    EXPECT_TRUE(errors.contains("Impossibile caricare il programma gestione cassa."));
}

TEST(EndToEndDriverProgram, ProgramLineIsSplitAsAShellSplitsIt)
{
    ProgramFolder pf(Driver::BuiltIn);
    QDir().mkpath(pf.file("my drivers"));
    QFile::copy(QDS_FAKE_DRIVER, pf.file("my drivers/fake_driver.py"));
    pf.write("ZEZOVURADUR.INI", "[Driver]\r\nProgram=python3 'my drivers/fake_driver.py' "
                                "\"good\" call\\ s.log\r\nStartTimeout=" +
                                    QByteArray::number(budgetMs(30000) / 1000) + "\r\n");
    QProcess& p = pf.start();
    EXPECT_TRUE(waitFor([&] { return readBytes(pf.file("call s.log")).contains("OpenPort 1"); }));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_EQ(exitCode(p), 0);

    pf.write("ZEZOVURADUR.INI", "[Driver]\r\nProgram=python3 'my drivers/fake_driver.py\r\n");
    QProcess& refused = pf.start();
    EXPECT_EQ(exitCode(refused), 3);
    const QString errors = QString::fromLocal8Bit(refused.readAllStandardError());
    EXPECT_TRUE(errors.contains("a single quote is not closed")) << errors.toStdString();
}

// The processes of a process group (fields after the name in /proc/PID/stat: state, ppid,
// pgrp).
QList<qint64> processesInGroup(qint64 group)
{
    QList<qint64> out;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || !processRuns(pid))
            continue;
        const QByteArray stat = readBytes("/proc/" + entry + "/stat");
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[2].toLongLong() == group)
            out << pid;
    }
    return out;
}

TEST(EndToEndDriverProgram, NothingTheDriverStartedOutlivesTheProgramHoweverItEnds)
{
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        ProgramFolder pf(Driver::BuiltIn);
        // A wrapper that does not exec, and a child of the driver that holds its output.
        pf.write("wrap.sh", "python3 '" QDS_FAKE_DRIVER "' good+family calls.log\n");
        pf.write("ZEZOVURADUR.INI", "[Parameters]\r\nFrequence=0.2\r\n[Driver]\r\n"
                                    "Program=sh wrap.sh\r\nStartTimeout=" +
                                        QByteArray::number(budgetMs(30000) / 1000) + "\r\n");
        QProcess& p = pf.start();
        ASSERT_TRUE(waitFor([&] { return readBytes(pf.file("calls.log")).contains("child"); }));
        const QStringList calls = QString(readBytes(pf.file("calls.log"))).split('\n');
        const qint64 driver =
            calls.filter(QRegularExpression("^start ")).value(0).section(' ', -1).toLongLong();
        const QByteArray stat = readBytes(QStringLiteral("/proc/%1/stat").arg(driver));
        const qint64 group = stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(2).toLongLong();
        ASSERT_NE(group, 0);
        ASSERT_GE(processesInGroup(group).size(), 4); // wrapper, driver, its child, the watcher
        ::kill(static_cast<pid_t>(p.processId()), signal);
        EXPECT_EQ(exitCode(p), signal == SIGTERM ? 0 : -2000);
        EXPECT_TRUE(waitFor([&] { return processesInGroup(group).isEmpty(); }))
            << processesInGroup(group).size() << " left";
    }
}

TEST(EndToEndFolders, OneInstancePerFolderGivenAndStartAtLoginForEach)
{
    ProgramFolder pf(Driver::BuiltIn);
    const QString first = pf.file("registers/cassa1"), second = pf.file("registers/cassa2");
    QProcess& a = pf.start({"--folder", first});
    QProcess& b = pf.start({"--folder", second});
    ASSERT_TRUE(waitFor([&] {
        return QFileInfo(first + "/TOSEND").isDir() && QFileInfo(second + "/TOSEND").isDir();
    }));
    writeBytes(second + "/TOSEND/A.TXT", "ITEM\r\n");
    ASSERT_TRUE(waitFor([&] { return fileExists(second + "/TOSEND/A.OK"); }));
    EXPECT_FALSE(fileExists(pf.file("TOSEND"))); // the executable's folder is left alone
    for (QProcess* p : {&a, &b}) {
        ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
        EXPECT_EQ(exitCode(*p), 0);
    }

    // Start at login: one entry per folder, which says how to start it.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", pf.file("config"));
    auto autostart = [&](const QString& value, const QString& folder) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(pf.exe(), {"--autostart", value, "--folder", folder});
        return exitCode(p);
    };
    EXPECT_EQ(autostart("on", first), 0);
    EXPECT_EQ(autostart("on", second), 0);
    const QStringList entries = QDir(pf.file("config/autostart")).entryList(QDir::Files);
    ASSERT_EQ(entries.size(), 2);
    const QString entry = readBytes(pf.file("config/autostart/" + entries.first()));
    EXPECT_TRUE(entry.contains("Exec=\"" + pf.exe() + "\" --folder \"")) << entry.toStdString();
    // Desktops skip an entry whose program was removed.
    EXPECT_TRUE(entry.contains("\nTryExec=" + pf.exe() + "\n")) << entry.toStdString();
    EXPECT_EQ(autostart("off", first), 0);
    EXPECT_EQ(autostart("off", second), 0);
    EXPECT_TRUE(QDir(pf.file("config/autostart")).isEmpty());
    EXPECT_EQ(autostart("maybe", first), 1);
}

TEST(EndToEndFolders, TwoInstallationsOnOneInputFolderSendEachFileOnce)
{
    ProgramFolder a(Driver::BuiltIn), b(Driver::BuiltIn);
    const QString shared = a.file("shared");
    QDir().mkdir(shared);
    for (ProgramFolder* pf : {&a, &b})
        pf->write("ZEZOVURADUR.INI",
                  "[Parameters]\r\nFrequence=0.2\r\nDirectoryInput=" + shared.toUtf8() + "\r\n");
    QProcess& first = a.start();
    ASSERT_TRUE(waitFor([&] { return a.operations().contains("OpenPort=1;0"); }));
    QProcess& second = b.start();
    ASSERT_TRUE(waitFor([&] { return b.operations().contains("OpenPort=1;0"); }));
    for (int i = 0; i < 5; ++i)
        writeBytes(shared + QStringLiteral("/F%1.TXT").arg(i), "LINE " + QByteArray::number(i));
    ASSERT_TRUE(waitFor([&] { return QDir(shared).entryList({"*.TXT"}).isEmpty(); }));
    EXPECT_EQ(a.operations().filter("Send=").size(), 5);
    EXPECT_TRUE(b.operations().filter("Send=").isEmpty());

    // The first ends: the second takes the folder over.
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    EXPECT_EQ(exitCode(first), 0);
    writeBytes(shared + "/LAST.TXT", "LAST");
    ASSERT_TRUE(waitFor([&] { return fileExists(shared + "/LAST.OK"); }));
    EXPECT_EQ(b.operations().filter("Send=").size(), 1);
    ::kill(static_cast<pid_t>(second.processId()), SIGTERM);
    EXPECT_EQ(exitCode(second), 0);
    const QString errors = QString::fromLocal8Bit(second.readAllStandardError());
    EXPECT_EQ(errors.count("Un altro QuorinDriverServer invia i file della cartella"), 1)
        << errors.toStdString();
}

TEST(EndToEndDriverProgram, APauseOfOurOwnNeverFailsTheLineTheRegisterAccepted)
{
    // Stopped (SIGSTOP, a laptop's suspend) for longer than Timeout while a line is out: the
    // register's answer waits in the pipe and is read when the program runs again.
    ProgramFolder pf(Driver::Program);
    const int timeoutMs = budgetMs(2000);
    pf.write("ZEZOVURADUR.INI", "[Parameters]\r\nFrequence=0.2\r\n[Driver]\r\nTimeout=" +
                                    QByteArray::number(timeoutMs / 1000.0) + "\r\n");
    pf.write("Simulatore.ini",
             "[Rules]\r\nRule1=^SLOW => delay " + QByteArray::number(timeoutMs / 2) + "\r\n");
    QProcess& p = pf.start();
    ASSERT_TRUE(waitFor([&] { return fileExists(pf.file("TOSEND")); }));
    pf.write("TOSEND/P.TXT", "SLOW 1\r\n");
    // Stopped once the line is with the register, before its answer.
    ASSERT_TRUE(waitFor(
        [&] { return readBytes(pf.file("TOSEND/QuorinDriverServer.REC")).startsWith("Busy=1"); }));
    ::kill(static_cast<pid_t>(p.processId()), SIGSTOP);
    QThread::msleep(static_cast<unsigned long>(timeoutMs * 2));
    ::kill(static_cast<pid_t>(p.processId()), SIGCONT);
    ASSERT_TRUE(waitFor([&] { return !fileExists(pf.file("TOSEND/P.TXT")); }));
    EXPECT_TRUE(fileExists(pf.file("TOSEND/P.OK")));
    EXPECT_FALSE(fileExists(pf.file("TOSEND/P.KO"))) << readBytes(pf.file("TOSEND/P.KO")).data();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_EQ(exitCode(p), 0);
}
