#include "common/Clock.h"
#include "frmMain.h"
#include "register_sim/SimulatedRegister.h"
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
        "Avvio.txt, Stop.txt and Simulatore.ini. Exit status: 0 after a normal shut-down,\n"
        "2 when another instance runs for the same folder, 3 when the port does not open."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    const QFileInfo executable(QCoreApplication::applicationFilePath());
    const QString programFolder = executable.absolutePath();

    SystemClock clock;
    // One wait for everything that waits for the register: the shut-down ends them all.
    InterruptibleWait waits;
    SimulatedRegister driver(programFolder, clock, &waits);
    QtUserDialogs dialogs;
    SingleInstanceLock instanceLock(programFolder);
    frmMain::Options options;
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    options.server.waits = &waits;
    frmMain window(programFolder, executable.completeBaseName(), driver, clock, dialogs,
                   instanceLock, options);

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window,
                     &QWidget::close);

    if (const int status = window.Form_Load(); status != 0)
        return status;
    window.show();
    return app.exec();
}
