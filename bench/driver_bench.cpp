// Round trip of SendCommand: the built-in simulated register against the same register as a
// driver program, which answers at once. Prints one JSON object with the median and the 99th
// percentile of each, in microseconds.
//   driver_bench --simulator PATH [--calls N]
#include "common/Clock.h"
#include "driver/ExternalDriver.h"
#include "register_sim/SimulatedRegister.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

QJsonObject measure(RegisterDriver& driver, int calls)
{
    QString port = "1";
    driver.setPreOpenFlag(false);
    if (driver.OpenPort(port) != 0)
        qFatal("the port does not open");
    QList<double> us;
    for (int i = 0; i < calls + calls / 10; ++i) {
        qint32 row = 1;
        QString line = QStringLiteral("=R1/$100/(ARTICOLO %1)").arg(i);
        QElapsedTimer t;
        t.start();
        if (driver.SendCommand(row, 0, line) != 0)
            qFatal("a line was refused");
        const double elapsed = t.nsecsElapsed() / 1000.0;
        driver.ExtendedResult();
        if (i >= calls / 10) // the first tenth warms up
            us << elapsed;
    }
    driver.ClosePort();
    std::sort(us.begin(), us.end());
    return {{"median_us", us[us.size() / 2]}, {"p99_us", us[us.size() * 99 / 100]}};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"simulator", "The simulated register as a driver program.", "path"},
                       {"calls", "Calls measured (default 10000).", "n", "10000"}});
    parser.process(app);
    const int calls = std::max(100, parser.value("calls").toInt());
    QTemporaryDir dir;
    QFile ini(dir.filePath("Simulatore.ini"));
    // No journal: the register's own bookkeeping is not what is measured.
    if (!ini.open(QIODevice::WriteOnly) || ini.write("[Register]\r\nJournal=\r\n") < 0)
        qFatal("cannot write Simulatore.ini");
    ini.close();

    SystemClock clock;
    SimulatedRegister builtIn(dir.path(), clock);
    ExternalDriver::Options options;
    options.program = parser.value("simulator");
    options.workingFolder = dir.path();
    ExternalDriver program(options);
    const QJsonObject result{{"builtin", measure(builtIn, calls)},
                             {"program", measure(program, calls)}};
    std::fputs(QJsonDocument(result).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputs("\n", stdout);
    return 0;
}
