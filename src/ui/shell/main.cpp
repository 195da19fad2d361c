#include "ShowWindowChannel.h"
#include "common/Clock.h"
#include "frmMain.h"
#include "http/HttpConfig.h"
#include "http/HttpFront.h"
#include "mqtt/MqttLink.h"
#include "server/DriverChoice.h"
#include "server/DriverServer.h"
#include "server/ProgramFolder.h"
#include "server/platform/Autostart.h"
#include "server/platform/HeadlessStart.h"
#include "server/platform/ServiceNotify.h"
#include "server/platform/SingleInstanceLock.h"
#include "server/platform/TerminationSignals.h"
#include "ui/widgets/ModMain.h"
#include "ui/widgets/UserDialogs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QSysInfo>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

namespace {

// Complaints carry the program's name, as the option parser's own do.
void complain(const QString& text)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(text));
}

} // namespace

int main(int argc, char** argv)
{
    chooseOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    // Hiding the window must never end the program; only the shut-down does.
    app.setQuitOnLastWindowClosed(false);
    app.setApplicationVersion(QStringLiteral(QDS_VERSION));
    // Docks and task bars match the window to its menu entry (quorindriverserver.desktop).
    QGuiApplication::setDesktopFileName(QStringLiteral("quorindriverserver"));

    // Before anything else: asking for help or the version, or a mistyped option, must never
    // open the register or send a file.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Sends the command files dropped into its input folder to the fiscal cash register.\n"
            "\n"
            "The program folder holds ZEZOVURADUR.INI, Avvio.txt, Stop.txt, Simulatore.ini and,\n"
            "by default, the TOSEND and UNSENT folders. It is the folder given with --folder\n"
            "(made when missing); otherwise, for a program installed in the system's folders\n"
            "(/usr/bin), QuorinDriverServer in the user's data folder (%1);\n"
            "otherwise the folder of this executable. One instance runs per program folder.\n"
            "ZEZOVURADUR.INI's [Driver] Program= names a driver program for a real register;\n"
            "without it the simulated register runs.\n"
            "\n"
            "Exit status: 0 after a normal shut-down, 1 for a wrong option or a program folder\n"
            "that cannot be made, 2 when another instance runs for the same folder, 3 when the\n"
            "port does not open.")
            .arg(defaultPerUserFolder()));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption folderOption(
        "folder", "Use DIR as the program folder (one per register).", "DIR");
    const QCommandLineOption autostartOption(
        "autostart",
        "Start the program at login for this program folder (on), or no longer (off); then end.",
        "on|off");
    parser.addOptions({folderOption, autostartOption});
    parser.process(app);

    if (parser.isSet(folderOption) && parser.value(folderOption).isEmpty()) {
        complain(QStringLiteral("--folder needs the name of a folder, not an empty one"));
        return 1;
    }
    const QFileInfo executable(QCoreApplication::applicationFilePath());
    const ProgramFolderChoice choice = chooseProgramFolder(
        parser.value(folderOption), executable.absolutePath(), defaultPerUserFolder());
    const QString& programFolder = choice.folder;

    if (parser.isSet(autostartOption)) {
        const QString value = parser.value(autostartOption);
        if (value != QLatin1String("on") && value != QLatin1String("off")) {
            complain(QStringLiteral("--autostart takes on or off, not %1").arg(value));
            return 1;
        }
        const AutostartResult result = setAutostart(value == QLatin1String("on"),
                                                    executable.absoluteFilePath(), programFolder);
        fprintf(result.ok ? stdout : stderr, "%s\n", qPrintable(result.message));
        return result.ok ? 0 : 1;
    }
    if (!makeProgramFolder(programFolder)) {
        complain(QStringLiteral("cannot make the program folder %1").arg(programFolder));
        return 1;
    }

    SystemClock clock;
    // One wait for everything that waits for the register: the shut-down ends them all.
    InterruptibleWait waits;
    const DriverSettings driverSettings = SettingsFile(programFolder).loadDriver();
    const std::unique_ptr<RegisterDriver> driver =
        createRegisterDriver(programFolder, driverSettings, clock, &waits);
    SingleInstanceLock instanceLock(programFolder);
    DriverServer::Options serverOptions;
    serverOptions.waits = &waits;
    DriverServer server(programFolder, executable.completeBaseName(), *driver, clock, instanceLock,
                        serverOptions);
    QObject::connect(&server, &DriverServer::ended, &app,
                     [](int status) { QCoreApplication::exit(status); });

    QtUserDialogs dialogs;
    frmMain::Options options;
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    frmMain window(server, dialogs, options);

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window,
                     &QWidget::close);

    // A running instance of this folder is asked to show its window first: this start then ends
    // as the second one, and the user finds what is running.
    ShowWindowChannel showChannel(instanceLock.path());
    showChannel.ask(2000);
    if (const int status = window.Form_Load(); status != 0)
        return status;
    // A service manager that asked to be told (systemd, Type=notify) hears that the program is
    // ready (Avvio.txt has its verdict), its state line, that it stops, and that its event loop
    // runs (a wait for the register serves events, so a healthy program never misses one).
    if (ServiceNotify::available()) {
        ServiceNotify::send("READY=1\nSTATUS=" + server.status().stateText().toUtf8());
        QObject::connect(&server.status(), &StatusModel::changed, &app, [&server] {
            ServiceNotify::send("STATUS=" + server.status().stateText().toUtf8());
        });
        QObject::connect(&server, &DriverServer::shutDownBegins, &app,
                         [] { ServiceNotify::send("STOPPING=1"); });
        if (const int ms = ServiceNotify::watchdogMs(); ms > 0) {
            auto* watchdog = new QTimer(&app);
            QObject::connect(watchdog, &QTimer::timeout, [] { ServiceNotify::send("WATCHDOG=1"); });
            watchdog->start(std::max(1, ms / 2));
        }
    }
    if (showChannel.listen())
        QObject::connect(&showChannel, &ShowWindowChannel::showRequested, &window,
                         [&window] { bringForward(&window); });
    // The HTTP front starts once this instance holds its folder, and only when configured;
    // settings it cannot use leave it off, never the program.
    // Both fronts keep their jobs in one store.
    const QString jobsFolder = pathInFolder(programFolder, QStringLiteral("HttpJobs"));
    JobDesk desk(server, jobsFolder);
    std::unique_ptr<HttpFront> front;
    if (const HttpSettings http = SettingsFile(programFolder).loadHttp(); http.enabled()) {
        const HttpConfigCheck check = checkHttpSettings(http, programFolder);
        QString why = check.error;
        if (check.config && desk.start(why)) {
            HttpFront::Options frontOptions;
            frontOptions.version = app.applicationVersion();
            front = std::make_unique<HttpFront>(*check.config, server, desk, frontOptions);
            if (!front->start(why))
                front.reset();
        }
        if (front) {
            window.addLivePageEntry(QUrl(front->pageUrl()));
            complain(QStringLiteral("HTTP front on %1 (jobs kept in %2)")
                         .arg(check.config->listenText(), jobsFolder));
        } else {
            complain(QStringLiteral("the HTTP front stays off: %1").arg(why));
            server.logNotice(QStringLiteral("HttpOff"), why);
        }
    }
    // The MQTT link likewise: off unless a broker is named, and settings it cannot use leave it
    // off with why.
    std::unique_ptr<MqttLink> link;
    if (const MqttSettings mqtt = SettingsFile(programFolder).loadMqtt(); mqtt.enabled()) {
        const MqttConfigCheck check =
            checkMqttSettings(mqtt, programFolder, QSysInfo::machineHostName(),
                              SettingsFile(programFolder).loadHttp().MaxBodyKB);
        QString why = check.error;
        if (check.config && desk.start(why)) {
            if (!check.warning.isEmpty()) {
                complain(check.warning);
                server.logNotice(QStringLiteral("MqttPlain"), check.warning);
            }
            MqttLink::Options linkOptions;
            linkOptions.version = app.applicationVersion();
            linkOptions.say = [](const QString& text) { complain(text); };
            link = std::make_unique<MqttLink>(*check.config, server, desk, linkOptions);
            if (!link->start(why))
                link.reset();
        }
        if (link) {
            complain(QStringLiteral("MQTT link to %1, jobs on %2")
                         .arg(check.config->brokerText(), check.config->jobsTopic()));
            // The broker hears at once that the register goes (its Will, online false).
            QObject::connect(&server, &DriverServer::shutDownBegins, link.get(), &MqttLink::stop);
        } else {
            complain(QStringLiteral("the MQTT link stays off: %1").arg(why));
            server.logNotice(QStringLiteral("MqttOff"), why);
        }
    }
    // One line at the start and one at the end: a service's journal shows what ran, and where.
    complain(QStringLiteral("started in %1 (input folder %2, %3, port %4)")
                 .arg(programFolder, server.settings().DirectoryInput,
                      driverSettings.Program.isEmpty()
                          ? QStringLiteral("the built-in simulated register")
                          : QStringLiteral("driver program %1").arg(driverSettings.Program),
                      server.settings().Port));
    window.show();
    const int status = app.exec();
    complain(QStringLiteral("ended (exit status %1)").arg(status));
    return status;
}
