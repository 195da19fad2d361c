#include "pipeline/Clock.h"
#include "register_sim/SimulatedRegister.h"
#include "shell/UserDialogs.h"
#include "shell/frmMain.h"
#include "shell/platform/HeadlessStart.h"
#include "shell/platform/SingleInstanceLock.h"
#include "shell/platform/TerminationSignals.h"

#include <QApplication>
#include <QFileInfo>
#include <QSystemTrayIcon>

int main(int argc, char** argv)
{
    chooseOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    // Hiding the window must never end the program; only the shut-down does.
    app.setQuitOnLastWindowClosed(false);

    const QFileInfo executable(QCoreApplication::applicationFilePath());
    const QString programFolder = executable.absolutePath();

    SystemClock clock;
    SimulatedRegister driver(programFolder, clock);
    QtUserDialogs dialogs;
    SingleInstanceLock instanceLock(programFolder);
    frmMain::Options options;
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
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
