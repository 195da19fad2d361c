// The notification-area icon on the two kinds of tray that Linux desktops have, for real: an
// X server (Xvfb) with an XEmbed tray host (trayer) clicked with xdotool, and a private D-Bus
// session with a stand-in for the desktop's StatusNotifierItem watcher, which calls the item's
// Activate methods the way a panel does. One kind per run of this program:
//   tray_desktop_tests --xembed | --sni
#include "support/TestSupport.h"
#include "ui/tray/TrayIcon.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QPixmap>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

QString g_missing; // a tool this machine lacks: the tests are skipped
bool g_sni = false;

// Stands in for the desktop's watcher (and host): takes the item's registration and, when told,
// activates it. Lives in a thread of its own, so that it answers while the program's thread
// waits for it, as another process would.
class StandInWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }

    bool start()
    {
        m_bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "stand-in-watcher"));
        return m_bus->registerService("org.kde.StatusNotifierWatcher") &&
               m_bus->registerObject("/StatusNotifierWatcher", this,
                                     QDBusConnection::ExportAllSlots |
                                         QDBusConnection::ExportAllProperties |
                                         QDBusConnection::ExportAllSignals);
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
    {
        // Qt gives its own service name, or only a path: then the sender is the service.
        m_items << (service.startsWith('/') ? message.service() : service);
        emit StatusNotifierItemRegistered(m_items.last());
    }
    void RegisterStatusNotifierHost(const QString&) {}
    // What a panel does on a click: one call per click.
    void click(const QString& method)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(m_items.value(0), "/StatusNotifierItem",
                                                           "org.kde.StatusNotifierItem", method);
        call << 0 << 0;
        m_bus->call(call, QDBus::Block, budgetMs(5000));
    }

signals:
    void StatusNotifierItemRegistered(const QString& service);

private:
    std::unique_ptr<QDBusConnection> m_bus;
    QStringList m_items;
};

StandInWatcher* g_watcher = nullptr;

struct Clicks
{
    explicit Clicks(TrayIcon& tray)
    {
        QObject::connect(&tray, &TrayIcon::DoubleClick,
                         [this](int button, int) { doubleClicks << button; });
    }
    QList<int> doubleClicks;
};

std::unique_ptr<TrayIcon> shownIcon()
{
    auto tray = std::make_unique<TrayIcon>(true);
    QPixmap picture(22, 22);
    picture.fill(Qt::darkGreen);
    tray->setI_Icon(QIcon(picture));
    tray->setI_ToolTipText("QuorinDriverServer");
    tray->I_Show();
    return tray;
}

} // namespace

TEST(TrayOnRealDesktops, XEmbedDoubleClickOfEveryButton)
{
    if (!g_missing.isEmpty())
        GTEST_SKIP() << g_missing.toStdString();
    if (g_sni)
        GTEST_SKIP() << "run with --xembed";
    ASSERT_TRUE(serveEventsUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    auto tray = shownIcon();
    Clicks clicks(*tray);
    // The icon's own window, once the tray host has embedded it (Qt may make it anew
    // meanwhile, so it is looked up again).
    auto iconWindow = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("QSystemTrayIconSys") && w->isVisible())
                return w->winId();
        return WId(0);
    };
    ASSERT_TRUE(serveEventsUntil([&] { return iconWindow() != 0; }));
    serveEventsFor(1500);
    ASSERT_NE(iconWindow(), WId(0));
    // X buttons: 1 left, 2 middle, 3 right; the program's: 0 left, 1 right, 2 middle.
    for (const auto& [xButton, button] : {std::pair{1, 0}, std::pair{3, 1}, std::pair{2, 2}}) {
        clicks.doubleClicks.clear();
        QProcess xdotool;
        xdotool.start("xdotool",
                      {"mousemove", "--window", QString::number(iconWindow()), "8", "8", "click",
                       "--repeat", "2", "--delay", "80", QString::number(xButton)});
        ASSERT_TRUE(xdotool.waitForFinished(budgetMs(5000)));
        EXPECT_TRUE(serveEventsUntil([&] { return !clicks.doubleClicks.isEmpty(); }))
            << "X button " << xButton;
        serveEventsFor(500); // a late extra one would show here
        EXPECT_EQ(clicks.doubleClicks, QList<int>({button})) << "X button " << xButton;
    }
}

TEST(TrayOnRealDesktops, StatusNotifierItemDoubleClickOfEveryButton)
{
    if (!g_missing.isEmpty())
        GTEST_SKIP() << g_missing.toStdString();
    if (!g_sni)
        GTEST_SKIP() << "run with --sni";
    auto tray = shownIcon();
    Clicks clicks(*tray);
    ASSERT_TRUE(serveEventsUntil([] { return !g_watcher->items().isEmpty(); }))
        << "the icon never registered with the watcher";
    // A panel calls Activate for the left button, SecondaryActivate for the middle one and
    // ContextMenu for the right one, once per click.
    for (const auto& [method, button] : {std::pair{"Activate", 0}, std::pair{"ContextMenu", 1},
                                         std::pair{"SecondaryActivate", 2}}) {
        clicks.doubleClicks.clear();
        for (int i = 0; i < 2; ++i) {
            QMetaObject::invokeMethod(g_watcher, "click", Qt::QueuedConnection,
                                      Q_ARG(QString, QString::fromLatin1(method)));
            serveEventsFor(60);
        }
        EXPECT_TRUE(serveEventsUntil([&] { return !clicks.doubleClicks.isEmpty(); })) << method;
        EXPECT_EQ(clicks.doubleClicks, QList<int>({button})) << method;
        // One click alone is no double click.
        clicks.doubleClicks.clear();
        serveEventsFor(600);
        QMetaObject::invokeMethod(g_watcher, "click", Qt::QueuedConnection,
                                  Q_ARG(QString, QString::fromLatin1(method)));
        serveEventsFor(300);
        EXPECT_TRUE(clicks.doubleClicks.isEmpty()) << method;
        serveEventsFor(600);
    }
}

namespace {

// A helper program of the desktop, ended with the tests.
class Helper
{
public:
    bool start(const QString& program, const QStringList& arguments, const QProcessEnvironment& env)
    {
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, arguments);
        return m_process.waitForStarted(budgetMs(5000));
    }
    QProcess& process() { return m_process; }
    ~Helper()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(budgetMs(3000)))
            m_process.kill();
    }

private:
    QProcess m_process;
};

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    g_sni = argc > 1 && QByteArray(argv[1]) == "--sni";
    const QStringList needed =
        g_sni ? QStringList{"Xvfb", "dbus-daemon"} : QStringList{"Xvfb", "trayer", "xdotool"};
    for (const QString& tool : needed) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            g_missing = tool + " is not installed";
    }

    XServer xvfb;
    Helper trayer, bus;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (g_missing.isEmpty() && !xvfb.start())
        g_missing = xvfb.error();
    if (g_missing.isEmpty()) {
        const QString display = xvfb.display();
        qputenv("DISPLAY", display.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", display);
        if (g_sni) {
            bus.start("dbus-daemon", {"--session", "--nofork", "--print-address"}, env);
            bus.process().waitForReadyRead(budgetMs(10000));
            const QByteArray address = bus.process().readLine().trimmed();
            qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        } else {
            qunsetenv("DBUS_SESSION_BUS_ADDRESS"); // no watcher: the XEmbed tray is used
            trayer.start("trayer", {"--edge", "top", "--align", "right", "--width", "10"}, env);
        }
    }
    QApplication app(argc, argv);
    QThread watcherThread;
    StandInWatcher watcher;
    if (g_missing.isEmpty() && g_sni) {
        // Registered before the first icon: Qt asks the watcher once, when it makes one.
        watcher.moveToThread(&watcherThread);
        watcherThread.start();
        bool started = false;
        QMetaObject::invokeMethod(
            &watcher, [&] { started = watcher.start(); }, Qt::BlockingQueuedConnection);
        if (!started)
            g_missing = "the stand-in watcher could not register on the private bus";
        g_watcher = &watcher;
    }
    const int status = RUN_ALL_TESTS();
    watcherThread.quit();
    watcherThread.wait();
    return status;
}

#include "TrayOnRealDesktopsTest.moc"
