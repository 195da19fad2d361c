// The windows the program opens, on a real X server with a real window manager (Openbox): they
// stay above the main window after it went on top for an error, and showing the main window
// brings it back from minimised, with a dialog that blocks it.
#include "support/ServerFixture.h"
#include "ui/shell/frmMain.h"
#include "ui/tray/TrayIcon.h"
#include "ui/widgets/UserDialogs.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QWindow>

namespace {

QString g_missing; // why the tests cannot run here

QString xprop(const QStringList& arguments)
{
    QProcess p;
    p.start("xprop", arguments);
    p.waitForFinished(budgetMs(5000));
    return QString::fromLatin1(p.readAllStandardOutput());
}

// Client windows from the bottom to the top, as the window manager stacks them.
QList<WId> stacking()
{
    QList<WId> out;
    const QString line = xprop({"-root", "_NET_CLIENT_LIST_STACKING"});
    for (const auto& m : QRegularExpression("0x[0-9a-f]+").globalMatch(line))
        out << m.captured().toULongLong(nullptr, 16);
    return out;
}

// The window's X id now (QWidget::winId() may keep the id of a native window made anew).
WId xid(const QWidget* window)
{
    return window->windowHandle() ? window->windowHandle()->winId() : window->winId();
}

bool stackedAbove(const QWidget* upper, const QWidget* lower)
{
    const QList<WId> order = stacking();
    const qsizetype u = order.indexOf(xid(upper)), l = order.indexOf(xid(lower));
    return u >= 0 && l >= 0 && u > l;
}

// "Normal" or "Iconic", as the window manager says.
QString wmState(const QWidget* window)
{
    const QString out = xprop({"-id", QString::number(xid(window)), "WM_STATE"});
    return QRegularExpression("window state: (\\w+)").match(out).captured(1);
}

bool onTopAndNormal(const QWidget* window)
{
    return wmState(window) == "Normal" && stacking().value(stacking().size() - 1) == xid(window);
}

// Real message boxes and dialogs; the document to send is given, not chosen in a file dialog.
class DesktopDialogs : public QtUserDialogs
{
public:
    std::optional<QString> openFileName(QWidget*, const CommonDialog&) override { return document; }
    QString document;
};

// Runs `open`, which returns once the modal window it opens is closed; meanwhile, once that
// window is mapped, `check` looks at it, then it is closed.
bool checkWhileOpen(const std::function<void()>& open, const std::function<bool(QWidget*)>& check)
{
    bool result = false;
    QElapsedTimer clock;
    clock.start();
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        result = check(modal);
        if (result || clock.elapsed() > budgetMs(10000)) {
            probe.stop();
            modal->close();
        }
    });
    probe.start(100);
    open();
    return result;
}

class WindowStacking : public ::testing::Test, public ServerFixture
{
protected:
    WindowStacking() : ServerFixture({true, false}) {}
    void SetUp() override
    {
        if (!g_missing.isEmpty())
            GTEST_SKIP() << g_missing.toStdString();
        window = std::make_unique<frmMain>(*server, dialogs, frmMain::Options{});
        ASSERT_EQ(window->Form_Load(), 0);
        window->show();
        ASSERT_TRUE(serveEventsUntil([&] { return onTopAndNormal(window.get()); }));
    }
    void TearDown() override
    {
        if (window)
            server->requestShutdown(DriverServer::Origin::Outside);
    }
    QAction* action(const char* name) { return window->findChild<QAction*>(name); }

    DesktopDialogs dialogs;
    std::unique_ptr<frmMain> window;
};

} // namespace

TEST_F(WindowStacking, WindowsOpenedAfterAnErrorStayAboveTheMainWindow)
{
    // A failed file brings the window forward and keeps it above ordinary windows.
    server->status().bringForward();
    dialogs.document = dir.file("Configurazione.orvek");
    writeBytes(dialogs.document, "X\r\n");
    auto above = [&](QWidget* modal) { return stackedAbove(modal, window.get()); };
    EXPECT_TRUE(checkWhileOpen([&] { action("MNU_FILE_PERSONALIZZA")->trigger(); }, above))
        << "the settings dialog";
    EXPECT_TRUE(checkWhileOpen([&] { action("MNU_FILE_INVIA")->trigger(); }, above))
        << "the editor";
    EXPECT_TRUE(checkWhileOpen(
        [&] { static_cast<ServerView&>(*window).showCritical("Errore di prova"); }, above))
        << "a message box";
}

TEST_F(WindowStacking, ShowingTheMinimisedWindowRestoresItWithTheDialogThatBlocksIt)
{
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"double click on the icon",
         [&] { emit window->findChild<TrayIcon*>("MyTray")->DoubleClick(0, 0); }},
        {"a failed file", [&] { server->status().bringForward(); }},
    };
    for (const auto& [how, bringBack] : ways) {
        SCOPED_TRACE(how);
        window->showMinimized();
        ASSERT_TRUE(serveEventsUntil([&] { return wmState(window.get()) == "Iconic"; }));
        bringBack();
        EXPECT_TRUE(serveEventsUntil([&] { return onTopAndNormal(window.get()); }));
        EXPECT_FALSE(window->isMinimized());
    }
    // The settings dialog minimised: showing the window brings both back, the dialog on top.
    EXPECT_TRUE(
        checkWhileOpen([&] { action("MNU_FILE_PERSONALIZZA")->trigger(); },
                       [&](QWidget* modal) {
                           modal->showMinimized();
                           if (!serveEventsUntil([&] { return wmState(modal) == "Iconic"; }))
                               return false;
                           emit window->findChild<TrayIcon*>("MyTray")->DoubleClick(0, 0);
                           return serveEventsUntil([&] {
                               return onTopAndNormal(modal) && wmState(window.get()) == "Normal";
                           });
                       }));
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (const QString tool : {"Xvfb", "openbox", "xprop"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            g_missing = tool + " is not installed";
    }
    XServer xvfb;
    QProcess wm;
    if (g_missing.isEmpty() && !xvfb.start())
        g_missing = xvfb.error();
    if (g_missing.isEmpty()) {
        qputenv("DISPLAY", xvfb.display().toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        wm.start("openbox", {"--sm-disable"});
        // The window manager is there once it names itself on the root window.
        QElapsedTimer clock;
        clock.start();
        while (!xprop({"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id")) {
            if (clock.elapsed() > budgetMs(10000)) {
                g_missing = "openbox did not come up";
                break;
            }
            QThread::msleep(50);
        }
    }
    QApplication app(argc, argv);
    const int status = RUN_ALL_TESTS();
    wm.kill();
    wm.waitForFinished(budgetMs(5000));
    return status;
}
