#include "common/Clock.h"
#include "frmMain.h"
#include "driver/ExternalDriver.h"
#include "server/DriverChoice.h"
#include "server/platform/HeadlessStart.h"
#include "server/platform/SingleInstanceLock.h"
#include "server/platform/TerminationSignals.h"
#include "ui/widgets/UserDialogs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QSystemTrayIcon>

int main(int argc, char** argv)
{
    chooseOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    // Hiding the window must never end the program; only the shut-down does.
    app.setQuitOnLastWindowClosed(false);
    app.setApplicationVersion(QStringLiteral(QDS_VERSION));

    // Before anything else: asking for help or the version, or a mistyped option, must never
    // open the register or send a file.
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends the command files dropped into its input folder to the fiscal cash register.\n"
        "The program folder is the folder of this executable: it holds ZEZOVURADUR.INI,\n"
        "Avvio.txt, Stop.txt and Simulatore.ini. ZEZOVURADUR.INI's [Driver] Program= names a\n"
        "driver program for a real register; without it the simulated register runs.\n"
        "Exit status: 0 after a normal shut-down, 2 when another instance runs for the same\n"
        "folder, 3 when the port does not open."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    const QFileInfo executable(QCoreApplication::applicationFilePath());
    const QString programFolder = executable.absolutePath();

    SystemClock clock;
    // One wait for everything that waits for the register: the shut-down ends them all.
    InterruptibleWait waits;
    const std::unique_ptr<RegisterDriver> driver =
        createRegisterDriver(programFolder, SettingsFile(programFolder).loadDriver(), clock, &waits);
    QtUserDialogs dialogs;
    SingleInstanceLock instanceLock(programFolder);
    frmMain::Options options;
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    options.server.waits = &waits;
    frmMain window(programFolder, executable.completeBaseName(), *driver, clock, dialogs,
                   instanceLock, options);
    // A driver program is told the speed the settings hold when it opens the port.
    if (auto* external = qobject_cast<ExternalDriver*>(driver.get()))
        external->setSpeedSource([&window] { return window.settings().BaudRate; });

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window,
                     &QWidget::close);

    if (const int status = window.Form_Load(); status != 0)
        return status;
    window.show();
    return app.exec();
}
