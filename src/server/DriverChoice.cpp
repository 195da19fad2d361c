#include "DriverChoice.h"

#include "driver/CommandLine.h"
#include "driver/ExternalDriver.h"
#include "register_sim/SimulatedRegister.h"

std::unique_ptr<RegisterDriver> createRegisterDriver(const QString& programFolder,
                                                     const DriverSettings& settings,
                                                     const Clock& clock, InterruptibleWait* waits)
{
    QString error;
    const auto split = splitCommandLine(settings.Program, &error);
    QStringList words = split.value_or(QStringList());
    if (split && words.isEmpty())
        return std::make_unique<SimulatedRegister>(programFolder, clock, waits);
    ExternalDriver::Options options;
    // A line that cannot be split names no program: it fails at its start, like a missing one.
    if (!split)
        options.startError = QStringLiteral("its command line cannot be read: %1").arg(error);
    else
        options.program = words.takeFirst();
    options.arguments = words;
    options.workingFolder = programFolder;
    options.timeoutMs = settings.timeoutMs();
    options.startTimeoutMs = settings.startTimeoutMs();
    return std::make_unique<ExternalDriver>(options, waits);
}
