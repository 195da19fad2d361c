#include "DriverChoice.h"

#include "driver/ExternalDriver.h"
#include "register_sim/SimulatedRegister.h"

#include <QProcess>

std::unique_ptr<RegisterDriver> createRegisterDriver(const QString& programFolder,
                                                     const DriverSettings& settings,
                                                     const Clock& clock, InterruptibleWait* waits)
{
    QStringList words = QProcess::splitCommand(settings.Program);
    if (words.isEmpty())
        return std::make_unique<SimulatedRegister>(programFolder, clock, waits);
    ExternalDriver::Options options;
    options.program = words.takeFirst();
    options.arguments = words;
    options.workingFolder = programFolder;
    options.timeoutMs = settings.timeoutMs();
    options.startTimeoutMs = settings.startTimeoutMs();
    return std::make_unique<ExternalDriver>(options, waits);
}
